#include "data/model/NewsStory.h"
#include "data/model/tests/ModelTestSupport.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/foundation/images/ImageDecoding.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using StoryTest::story;

namespace {

std::shared_ptr<NewsStory> roundTrip(const Coding& object)
{
    NewsStory::registerArchiveClasses();
    return KeyedUnarchiver::unarchiveObjectWithData<NewsStory>(
        KeyedArchiver::archivedDataWithRootObject(object));
}

std::shared_ptr<Coding> legacySource()
{
    auto s = std::make_shared<ArchivedSourceFixture>();
    s->title = u"Old"_s;
    s->link = u"http://old.example/feed"_s;
    return s;
}

} // namespace

TEST(NewsStory, IsIdentifiedByItsLinkAlone)
{
    EXPECT_TRUE(*story(u"http://a.example/1"_s, 10, u"One"_s)
        == *story(u"http://a.example/1"_s, 99, u"Two"_s));
    EXPECT_FALSE(*story(u"http://a.example/1"_s) == *story(u"http://a.example/1/"_s));
    EXPECT_TRUE(*story(QString(), 1, u"x"_s) == *story(QString(), 2, u"y"_s));

    const auto noLink = story(QString(), 1, u"Headline"_s);
    EXPECT_EQ(noLink->hashValue(), qHash(u"Headline"_s));
    EXPECT_EQ(story(u"http://a.example/1"_s)->hashValue(), qHash(u"http://a.example/1"_s));
}

TEST(NewsStory, SortsNewestFirstWithUndatedStoriesAfterEveryLaterDate)
{
    QList<std::shared_ptr<NewsStory>> list { story(u"http://a/1"_s, 100), story(u"http://a/2"_s),
        story(u"http://a/3"_s, 300), story(u"http://a/4"_s, -50) };
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return *a > *b; });
    QStringList order;
    for (const auto& s : list)
        order.append(s->link()->absoluteString());
    EXPECT_EQ(order,
        (QStringList { u"http://a/3"_s, u"http://a/1"_s, u"http://a/2"_s, u"http://a/4"_s }));
    EXPECT_TRUE(*story(u"http://a/5"_s, 0) <= *story(u"http://a/6"_s));
    EXPECT_TRUE(*story(u"http://a/5"_s, 0) >= *story(u"http://a/6"_s));
}

TEST(NewsStory, ReadsItsDateTextWhenMadeFromAFeed)
{
    const auto src = StoryTest::source();
    const NewsStory dated(u"h"_s, u"b"_s, std::nullopt,
        NewsStory::AbsoluteDate { u"Tue, 10 Jun 2003 04:00:00 GMT"_s }, src);
    ASSERT_TRUE(dated.date());
    EXPECT_EQ(dated.date()->toSecsSinceEpoch(), 1055217600);
    EXPECT_FALSE(
        NewsStory(u"h"_s, u"b"_s, std::nullopt, NewsStory::AbsoluteDate { std::nullopt }, src)
            .date());
    EXPECT_FALSE(
        NewsStory(u"h"_s, u"b"_s, std::nullopt, NewsStory::AbsoluteDate { u"yesterday"_s }, src)
            .date());

    const NewsStory empty(
        std::nullopt, std::nullopt, std::nullopt, std::optional<QDateTime>(), src);
    EXPECT_EQ(empty.headline(), QString());
    EXPECT_EQ(empty.body(), QString());
}

TEST(NewsStory, RoundTripsThroughAnArchiveWithoutItsImage)
{
    auto original = story(u"http://a.example/1"_s, 1'700'000'000);
    original->setImageLink(Url::fromString(u"http://a.example/i.png"_s));
    QImage pixel(2, 2, QImage::Format_ARGB32);
    pixel.fill(Qt::red);
    original->setImage(pixel);

    const auto copy = roundTrip(*original);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->headline(), original->headline());
    EXPECT_EQ(copy->body(), original->body());
    EXPECT_EQ(copy->link(), original->link());
    EXPECT_EQ(copy->imageLink(), original->imageLink());
    EXPECT_EQ(copy->date(), original->date());
    ASSERT_TRUE(copy->source());
    EXPECT_TRUE(*copy->source() == *original->source());
    EXPECT_TRUE(copy->image().isNull());
}

TEST(NewsStory, DecodesLegacyAndDamagedArchivesWithoutCrashing)
{
    QImage pixel(3, 3, QImage::Format_RGB32);
    pixel.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    pixel.save(&buffer, "PNG");

    StoryTest::ArchivedStoryFixture legacy;
    legacy.headlineNumber = 7;
    legacy.body = QString(150, u'b');
    legacy.link = u"http://a.example/x"_s;
    legacy.imageData = png;
    legacy.sourceObject = legacySource();
    const auto decoded = roundTrip(legacy);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->headline());
    EXPECT_EQ(decoded->body(), QString(100, u'b'));
    EXPECT_EQ(decoded->image().size(), QSize(3, 3));
    EXPECT_EQ(decoded->source()->title(), u"Old"_s);
    // Written again, the image is dropped.
    EXPECT_TRUE(roundTrip(*decoded)->image().isNull());

    // Cut in characters: a letter with its combining mark counts once.
    legacy.body = QString(120, u'x').replace(u"x"_s, u"e\u0301"_s);
    const auto combined = roundTrip(legacy);
    ASSERT_TRUE(combined);
    EXPECT_EQ(combined->body()->size(), 200);
    legacy.body = QString(100, u'c');
    EXPECT_EQ(roundTrip(legacy)->body(), QString(100, u'c'));

    StoryTest::ArchivedStoryFixture sourceless;
    sourceless.headline = u"h"_s;
    EXPECT_FALSE(roundTrip(sourceless));
    sourceless.sourceObject = std::make_shared<StoryTest::ArchivedStoryFixture>();
    EXPECT_FALSE(roundTrip(sourceless));
}

// Old stored stories carry their picture, and a stored list holds hundreds of them: each is read
// at the size a row draws it, and never past the stored picture bound.
TEST(NewsStory, AnEmbeddedPictureIsReadAtARowsSizeOnlyUpToTheStoredPictureBound)
{
    const auto pngOf = [](int width, int height) {
        QImage image(width, height, QImage::Format_Mono);
        image.fill(0);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return png;
    };
    StoryTest::ArchivedStoryFixture legacy;
    legacy.headline = u"h"_s;
    legacy.link = u"http://a.example/x"_s;
    legacy.sourceObject = legacySource();
    const struct {
        QSize stored;
        QSize read;
    } cases[] = {
        { QSize(maxStoredImageSide, maxStoredImageSide), QSize(256, 256) },
        { QSize(maxStoredImageSide, 512), QSize(512, 256) },
        { QSize(40, 30), QSize(40, 30) },
        { QSize(maxStoredImageSide + 1, 10), QSize() },
    };
    for (const auto& c : cases) {
        legacy.imageData = pngOf(c.stored.width(), c.stored.height());
        const auto read = roundTrip(legacy);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->headline(), u"h"_s);
        EXPECT_EQ(read->image().size(), c.read.isValid() ? c.read : QSize(0, 0))
            << c.stored.width();
        EXPECT_EQ(read->image().size(), c.read.isValid() ? c.read : QSize(0, 0));
    }
    // A picture set later replaces it, and so does none.
    legacy.imageData = pngOf(64, 64);
    const auto replaced = roundTrip(legacy);
    replaced->setImage(QImage());
    EXPECT_TRUE(replaced->image().isNull());
}

// The image and its link are set from a session's queue while the list reads them: on stories
// that have neither yet, setting both at once from two threads keeps both.
TEST(NewsStory, ImageAndImageLinkSetAtOnceFromTwoThreadsAreBothKept)
{
    QImage pixel(1, 1, QImage::Format_RGB32);
    pixel.fill(Qt::green);
    const auto imageLink = Url::fromString(u"http://a.example/i.png"_s);
    QList<std::shared_ptr<NewsStory>> stories;
    for (int i = 0; i < 2000; ++i)
        stories.append(story(StoryTest::linkNumber(i)));

    std::atomic<bool> go = false;
    std::atomic<int> seenPartly = 0;
    std::thread images([&] {
        while (!go) { }
        for (const auto& s : stories)
            s->setImage(pixel);
    });
    std::thread links([&] {
        while (!go) { }
        for (const auto& s : stories)
            s->setImageLink(imageLink);
    });
    std::thread reader([&] {
        while (!go) { }
        for (const auto& s : stories) {
            const QImage seen = s->image();
            if (!seen.isNull() && seen.pixel(0, 0) != pixel.pixel(0, 0))
                ++seenPartly;
        }
    });
    go = true;
    images.join();
    links.join();
    reader.join();

    EXPECT_EQ(seenPartly, 0);
    for (const auto& s : stories) {
        ASSERT_EQ(s->image().size(), QSize(1, 1));
        ASSERT_EQ(s->imageLink(), imageLink);
    }

    // Setting none again clears what is there; on a story with nothing it stays nothing.
    stories.first()->setImage(QImage());
    stories.first()->setImageLink(std::nullopt);
    EXPECT_TRUE(stories.first()->image().isNull());
    EXPECT_FALSE(stories.first()->imageLink());
    const auto bare = story(u"http://a.example/bare"_s);
    bare->setImage(QImage());
    bare->setImageLink(std::nullopt);
    EXPECT_TRUE(bare->image().isNull());
    EXPECT_FALSE(bare->imageLink());
}

#include "data/model/HotStoriesData.h"
#include "data/model/NewsStory.h"
#include "data/model/Shared.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString hotStoriesKey = u"velmora.Tickerly.HotStories"_s;

std::shared_ptr<HotStory> hot(const QString& url, qint64 hits)
{
    return std::make_shared<HotStory>(*Url::fromString(url), hits);
}

QStringList described(const HotStoriesData::HotStoryList& list)
{
    QStringList out;
    for (const auto& h : list)
        out.append(h->canonicalUrl().absoluteString() + u' ' + QString::number(h->hits()));
    return out;
}

NewsStory story(const std::optional<QString>& link)
{
    return NewsStory(u"headline"_s, u"body"_s, link ? Url::fromString(*link) : std::nullopt,
        std::optional<QDateTime>(), std::make_shared<Source>(u"s"_s, u"http://s/"_s));
}

// A hot-story record as a damaged store or another version may hold it.
class ArchivedHotStoryFixture : public Coding {
public:
    QString className = u"TickerlyDataMac.HotStory"_s;
    std::optional<Url> url;
    std::optional<QString> urlAsText;
    std::optional<qint64> hits;

    QString archivedClassName() const override { return className; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        if (url)
            coder.encodeUrl(*url, u"canonicalUrl"_s);
        if (urlAsText)
            coder.encodeString(*urlAsText, u"canonicalUrl"_s);
        if (hits)
            coder.encodeInteger(*hits, u"hits"_s);
    }
};

} // namespace

TEST(HotStoriesData, LoadsOnceWhenMadeAndStoresEveryChange)
{
    HotStoriesData before;
    EXPECT_TRUE(before.hotStories().isEmpty());

    HotStoriesData writer;
    (void)writer.setHotStories(
        { hot(u"http://a.com/1"_s, 10), hot(u"https://b.org/x?y=1#z"_s, -1) });
    const QStringList expected { u"http://a.com/1 10"_s, u"https://b.org/x?y=1#z -1"_s };
    EXPECT_EQ(described(writer.hotStories()), expected);
    EXPECT_EQ(described(HotStoriesData().hotStories()), expected);
    EXPECT_TRUE(before.hotStories().isEmpty());

    // A change is made on the stored list, which another object may have replaced meanwhile.
    (void)before.modifyHotStories(
        [](HotStoriesData::HotStoryList& list) { list.append(hot(u"http://c/"_s, 3)); });
    EXPECT_EQ(described(before.hotStories()), expected + QStringList { u"http://c/ 3"_s });
    EXPECT_EQ(described(HotStoriesData().hotStories()), described(before.hotStories()));
    EXPECT_EQ(writer.hotStories().size(), 2);

    // The empty list is stored as an empty archive; the key stays.
    (void)writer.setHotStories({});
    EXPECT_TRUE(sharedDefaults()->data(hotStoriesKey));
    EXPECT_TRUE(HotStoriesData().hotStories().isEmpty());
}

TEST(HotStoriesData, SkipsDamagedRecordsAndLoadsUnusableValuesAsEmpty)
{
    auto store = sharedDefaults();
    auto good = std::make_shared<ArchivedHotStoryFixture>();
    good->url = Url::fromString(u"http://good/"_s);
    auto noUrl = std::make_shared<ArchivedHotStoryFixture>();
    noUrl->hits = 4;
    auto textUrl = std::make_shared<ArchivedHotStoryFixture>();
    textUrl->urlAsText = u"http://text/"_s;
    auto future = std::make_shared<ArchivedHotStoryFixture>(*good);
    future->className = u"Some.FutureClass"_s;
    const QByteArray damaged = KeyedArchiver::archivedDataWithRootObjects(
        QList<std::shared_ptr<ArchivedHotStoryFixture>> { noUrl, good, textUrl, future });
    (void)store->set(hotStoriesKey, damaged);

    // A record without a hit count counts none; loading writes nothing back.
    EXPECT_EQ(described(HotStoriesData().hotStories()), QStringList { u"http://good/ 0"_s });
    EXPECT_EQ(store->data(hotStoriesKey), damaged);

    for (const QVariant& unusable : { QVariant(QByteArray("not an archive")), QVariant(42),
             QVariant(KeyedArchiver::archivedDataWithRootObject(*hot(u"http://single/"_s, 1))) }) {
        (void)store->set(hotStoriesKey, unusable);
        EXPECT_TRUE(HotStoriesData().hotStories().isEmpty());
    }
}

TEST(HotStoriesData, AStoryIsHotOnlyWhenItsLinkIsExactlyACanonicalUrl)
{
    EXPECT_FALSE(HotStoriesData().isStoryHot(story(u"http://a.com/1"_s)));
    EXPECT_FALSE(HotStoriesData().isStoryHot(story(std::nullopt)));

    HotStoriesData data;
    (void)data.setHotStories({ hot(u"http://a.com/1"_s, 10), hot(u"https://b.org/x?y=1"_s, 0) });
    EXPECT_TRUE(data.isStoryHot(story(u"http://a.com/1"_s)));
    EXPECT_TRUE(data.isStoryHot(story(u"https://b.org/x?y=1"_s)));
    for (const QString& near : { u"http://a.com/1/"_s, u"http://A.com/1"_s, u"HTTP://a.com/1"_s,
             u"https://a.com/1"_s, u"https://b.org/x"_s, u"https://b.org/x?y=1#top"_s })
        EXPECT_FALSE(data.isStoryHot(story(near))) << near.toStdString();
    EXPECT_FALSE(data.isStoryHot(story(std::nullopt)));
}

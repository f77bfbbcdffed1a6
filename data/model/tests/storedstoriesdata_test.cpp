#include "data/model/Shared.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/StoryStateData.h"
#include "data/model/tests/StoryTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using StoryTest::linkNumber;
using StoryTest::linksOf;
using StoryTest::story;

TEST(StoredStoriesData, StoresTheListWithItsTimeOfLoading)
{
    StoredStoriesData stored;
    EXPECT_TRUE(stored.storedStories().isEmpty());
    EXPECT_TRUE(stored.currentStories().isEmpty());
    EXPECT_FALSE(stored.lastLoaded());

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    (void)stored.storeStories(
        { story(linkNumber(2), 20), story(linkNumber(1), 10), story(QString(), std::nullopt) });
    EXPECT_EQ(
        linksOf(stored.storedStories()), (QStringList { linkNumber(2), linkNumber(1), QString() }));
    ASSERT_TRUE(stored.lastLoaded());
    EXPECT_GE(*stored.lastLoaded(), before);

    (void)stored.storeStories({});
    EXPECT_TRUE(stored.storedStories().isEmpty());
    EXPECT_TRUE(stored.lastLoaded());
}

TEST(StoredStoriesData, LeavesOutDeletedStoriesAndCutsToTheLimit)
{
    QList<std::shared_ptr<NewsStory>> list;
    for (int i = 0; i < 30; ++i)
        list.append(story(linkNumber(i), 1000 - i));
    StoredStoriesData stored;
    (void)stored.storeStories(list);
    StoryStateData states;
    for (int i : { 0, 3, 7, 11, 29 })
        (void)states.setState(*list[i], StoryState::Deleted);
    (void)states.setState(*list[1], StoryState::Read);
    (void)states.setState(*list[2], StoryState::ReadAndDeleted);

    QStringList expected;
    for (int i = 0; i < 30; ++i) {
        if (i != 0 && i != 3 && i != 7 && i != 11 && i != 29)
            expected.append(linkNumber(i));
    }
    EXPECT_EQ(linksOf(stored.currentStories()), expected);
    EXPECT_EQ(linksOf(stored.currentStories(20)), expected.mid(0, 20));
    EXPECT_TRUE(stored.currentStories(0).isEmpty());
    EXPECT_TRUE(stored.currentStories(-5).isEmpty());
}

TEST(StoredStoriesData, ReadsStoriesAndStatesFromItsOwnStore)
{
    auto other = std::make_shared<UserDefaults>(u"velmora.test.stories"_s);
    StoredStoriesData own(other);
    (void)own.storeStories({ story(linkNumber(1)), story(linkNumber(2)) });
    (void)StoryStateData(other).setState(*story(linkNumber(1)), StoryState::Deleted);
    // The shared suite says otherwise; it is not this object's store.
    (void)StoredStoriesData().storeStories({ story(linkNumber(9)) });

    EXPECT_EQ(linksOf(own.currentStories()), QStringList { linkNumber(2) });
    EXPECT_EQ(linksOf(StoredStoriesData().currentStories()), QStringList { linkNumber(9) });
}

TEST(StoredStoriesData, ReadsLegacyNamesAndSkipsDamagedStories)
{
    auto legacy = std::make_shared<StoryTest::ArchivedStoryFixture>();
    legacy->link = linkNumber(1);
    legacy->headline = u"Old"_s;
    legacy->sourceObject = StoryTest::source();
    auto sourceless = std::make_shared<StoryTest::ArchivedStoryFixture>();
    sourceless->link = linkNumber(2);
    auto store = sharedDefaults();
    (void)store->set(u"velmora.TickerlyShared.StoredStories"_s,
        KeyedArchiver::archivedDataWithRootArray({ legacy, sourceless }));

    const auto stories = StoredStoriesData().storedStories();
    ASSERT_EQ(stories.size(), 1);
    EXPECT_EQ(stories.first()->headline(), u"Old"_s);
    EXPECT_EQ(stories.first()->source()->link(), u"http://example.com/feed"_s);

    (void)store->set(u"velmora.TickerlyShared.StoredStories"_s, QByteArray("not an archive"));
    EXPECT_TRUE(StoredStoriesData().currentStories().isEmpty());
    (void)store->set(u"velmora.TickerlyShared.LastLoaded"_s, u"yesterday"_s);
    EXPECT_FALSE(StoredStoriesData().lastLoaded());
}

TEST(StoredStoriesData, UpdatingAnImageOnlyMovesTheTimeOfLoading)
{
    StoredStoriesData stored;
    (void)stored.storeStories({ story(linkNumber(1)) });
    const QDateTime first = *stored.lastLoaded();
    QImage pixel(1, 1, QImage::Format_RGB32);
    (void)stored.updateImage(pixel, *story(linkNumber(1)));
    const auto stories = stored.storedStories();
    ASSERT_EQ(stories.size(), 1);
    EXPECT_TRUE(stories.first()->image().isNull());
    EXPECT_GE(*stored.lastLoaded(), first);
}

TEST(StoredStoriesData, UpdatingAnImageNeverPutsBackAnOlderList)
{
    // A refresh stored by the other side while updateImage is reading the list: the moment
    // comes from a story whose decoding starts that store (on a thread of its own, as the other
    // process would) and gives it a bounded time to land.
    struct Refresh {
        QList<std::shared_ptr<NewsStory>> list { story(linkNumber(7)), story(linkNumber(8)) };
        std::thread other;
        std::atomic<bool> started = false;
    };
    // The decoder outlives the test in the class table: it keeps what it uses.
    auto refresh = std::make_shared<Refresh>();
    const QString className = u"Tickerly.Test.RefreshingStory"_s;
    KeyedUnarchiver::registerClass(
        className, [refresh](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
            if (!refresh->started.exchange(true)) {
                std::promise<void> stored;
                auto landed = stored.get_future();
                refresh->other
                    = std::thread([list = refresh->list, stored = std::move(stored)]() mutable {
                          (void)StoredStoriesData().storeStories(list);
                          stored.set_value();
                      });
                landed.wait_for(std::chrono::milliseconds(300));
            }
            return NewsStory::initWithCoder(coder);
        });
    auto old = std::make_shared<StoryTest::ArchivedStoryFixture>();
    old->className = className;
    old->link = linkNumber(1);
    old->sourceObject = StoryTest::source();
    StoredStoriesData stored;
    (void)sharedDefaults()->set(u"velmora.TickerlyShared.StoredStories"_s,
        KeyedArchiver::archivedDataWithRootArray({ old }));

    (void)stored.updateImage(QImage(1, 1, QImage::Format_RGB32), *story(linkNumber(1)));
    ASSERT_TRUE(refresh->started);
    refresh->other.join();
    EXPECT_EQ(linksOf(stored.storedStories()), linksOf(refresh->list));
}

TEST(StoredStoriesData, ReadingTheFirstStoriesGivesWhatReadingTheWholeListGives)
{
    QList<std::shared_ptr<const Coding>> list;
    for (int i = 0; i < 40; ++i)
        list.append(story(linkNumber(i), 1000 - i));
    auto sourceless = std::make_shared<StoryTest::ArchivedStoryFixture>();
    sourceless->link = linkNumber(100);
    list.insert(1, sourceless);
    list.insert(3, nullptr);
    StoryStateData states;
    for (int i : { 0, 2, 5 })
        (void)states.setState(*story(linkNumber(i)), StoryState::Deleted);
    const QByteArray sound = KeyedArchiver::archivedDataWithRootArray(list);

    // Another kind of object, even far past the stories asked for, makes it no story list.
    auto withOther = list;
    withOther.append(StoryTest::source());
    // Damaged bytes: the stories stored before the damage.
    const QByteArray cut = sound.left(sound.size() * 3 / 5);

    auto store = sharedDefaults();
    auto wholeReading = [](int limit) {
        QStringList links;
        StoryStateData read;
        for (const auto& s : StoredStoriesData().storedStories()) {
            if (links.size() < limit
                && read.stateForLink(s->link()->absoluteString()) != StoryState::Deleted)
                links.append(s->link()->absoluteString());
        }
        return links;
    };
    for (const QByteArray& bytes :
        { sound, KeyedArchiver::archivedDataWithRootArray(withOther), cut }) {
        (void)store->set(u"velmora.TickerlyShared.StoredStories"_s, bytes);
        for (int limit : { 1, 4, 20, 1000 })
            EXPECT_EQ(linksOf(StoredStoriesData().currentStories(limit)), wholeReading(limit))
                << limit;
    }
    (void)store->set(u"velmora.TickerlyShared.StoredStories"_s, sound);
    EXPECT_EQ(linksOf(StoredStoriesData().currentStories(3)),
        (QStringList { linkNumber(1), linkNumber(3), linkNumber(4) }));
    (void)store->set(u"velmora.TickerlyShared.StoredStories"_s,
        KeyedArchiver::archivedDataWithRootArray(withOther));
    EXPECT_TRUE(StoredStoriesData().currentStories(3).isEmpty());
    (void)store->set(u"velmora.TickerlyShared.StoredStories"_s, cut);
    EXPECT_FALSE(StoredStoriesData().currentStories(3).isEmpty());
}

namespace {
std::atomic<int> cutsTold = 0;
void countCuts(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (QByteArray(context.category) == "tickerly.data.stories" && message.contains(u"stories"_s))
        ++cutsTold;
}
} // namespace

// A list as long as one huge feed makes (twice the cap of short items) is stored up to the cap,
// newest first, and says so once; what was stored reads back whole, and stays whole when an
// image update writes it again. Shown at a tenth of the cap and of the array length read, which
// stay equal.
TEST(StoredStoriesData, ALongListReadsBackWholeAndIsCutOnlyWhenWritten)
{
    static_assert(StoredStoriesData::maxStoredStories == KeyedUnarchiver::maxArrayLength);
    const qsizetype cap = StoredStoriesData::maxStoredStories / 10;
    StoredStoriesData::setMaxStoredStoriesForTesting(cap);
    KeyedUnarchiver::setMaxArrayLengthForTesting(cap);
    const auto restore = qScopeGuard([] {
        StoredStoriesData::setMaxStoredStoriesForTesting(0);
        KeyedUnarchiver::setMaxArrayLengthForTesting(0);
    });
    const int given = int(2 * cap);
    ASSERT_LT(cap, given);
    const auto source = StoryTest::source();
    QList<std::shared_ptr<NewsStory>> stories;
    stories.reserve(given);
    for (int i = 0; i < given; ++i)
        stories.append(std::make_shared<NewsStory>(u"h"_s, u""_s, Url::fromString(linkNumber(i)),
            QDateTime::fromSecsSinceEpoch(2'000'000'000 - i, Qt::UTC), source));

    cutsTold = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countCuts);
    StoredStoriesData stored;
    (void)stored.storeStories(stories);
    EXPECT_EQ(cutsTold.load(), 1);
    (void)stored.updateImage(QImage(1, 1, QImage::Format_RGB32), *story(linkNumber(5)));
    const auto kept = stored.storedStories();
    EXPECT_EQ(linksOf(stored.currentStories(2)), (QStringList { linkNumber(0), linkNumber(1) }));
    // Reading cuts nothing, and says nothing.
    EXPECT_EQ(cutsTold.load(), 1);
    qInstallMessageHandler(previous);
    ASSERT_EQ(kept.size(), cap);
    EXPECT_EQ(kept.first()->link()->absoluteString(), linkNumber(0));
    EXPECT_EQ(kept.last()->link()->absoluteString(), linkNumber(int(cap - 1)));
}

// A stored list that does not read whole (damaged, another kind of element, more elements than
// any list the store writes) is never replaced by the part of it that could be read.
TEST(StoredStoriesData, AnImageUpdateLeavesAListItCannotReadWhole)
{
    // Shown at a tenth of the array length read.
    const qsizetype lengthRead = KeyedUnarchiver::maxArrayLength / 10;
    KeyedUnarchiver::setMaxArrayLengthForTesting(lengthRead);
    const auto restore = qScopeGuard([] { KeyedUnarchiver::setMaxArrayLengthForTesting(0); });
    QList<std::shared_ptr<const Coding>> list;
    for (int i = 0; i < 30; ++i)
        list.append(story(linkNumber(i), 1000 - i));
    const QByteArray sound = KeyedArchiver::archivedDataWithRootArray(list);
    auto withOther = list;
    withOther.append(StoryTest::source());
    QByteArray tooLong = KeyedArchiver::archivedDataWithRootArray({});
    tooLong.chop(1);
    // An array head of one element more than is read (0x9a and four bytes), all null.
    const quint32 n = quint32(lengthRead + 1);
    tooLong.append(char(0x9a));
    for (int shift = 24; shift >= 0; shift -= 8)
        tooLong.append(char((n >> shift) & 0xff));
    tooLong.append(QByteArray(qsizetype(n), char(0xf6)));
    auto store = sharedDefaults();
    const QString key = u"velmora.TickerlyShared.StoredStories"_s;
    for (const QByteArray& bytes : { sound.left(sound.size() * 2 / 3),
             KeyedArchiver::archivedDataWithRootArray(withOther), tooLong }) {
        (void)store->set(key, bytes);
        (void)StoredStoriesData().updateImage(
            QImage(1, 1, QImage::Format_RGB32), *story(linkNumber(1)));
        EXPECT_EQ(store->data(key), bytes);
    }
}

// Stories archived apart, given as views of the buffer that holds them with that buffer handed
// over, store the very list storeStories stores of them, whatever the width of the list's head;
// the buffer may go before the write.
TEST(StoredStoriesData, StoriesArchivedApartAsViewsStoreWhatTheStoriesStore)
{
    const auto source = StoryTest::source();
    for (const int count : { 0, 1, 23, 24, 255, 256 }) {
        QList<std::shared_ptr<NewsStory>> stories;
        for (int i = 0; i < count; ++i)
            stories.append(
                std::make_shared<NewsStory>(u"h%1"_s.arg(i), u""_s, Url::fromString(linkNumber(i)),
                    QDateTime::fromSecsSinceEpoch(2'000'000'000 - i, Qt::UTC), source));
        StoredStoriesData stored;
        (void)stored.storeStories(stories);
        const auto whole = sharedDefaults()->data(u"velmora.TickerlyShared.StoredStories"_s);
        ASSERT_TRUE(whole) << count;

        QByteArray buffer;
        QList<qsizetype> ends;
        for (const auto& story : stories) {
            buffer.append(KeyedArchiver::encodedObject(*story));
            ends.append(buffer.size());
        }
        QList<QByteArray> views;
        for (int i = 0; i < count; ++i) {
            const qsizetype begin = i == 0 ? 0 : ends[i - 1];
            views.append(QByteArray::fromRawData(buffer.constData() + begin, ends[i] - begin));
        }
        (void)sharedDefaults()->remove(u"velmora.TickerlyShared.StoredStories"_s);
        ASSERT_EQ(stored.storeEncodedStories(std::move(views), { std::move(buffer) }, {}),
            UserDefaults::Outcome::Done);
        EXPECT_EQ(sharedDefaults()->data(u"velmora.TickerlyShared.StoredStories"_s), whole)
            << count;
        EXPECT_EQ(stored.storedStories().size(), count);
    }
}

// The stories' first sightings are kept beside the list, written with it, and answer only for
// the list they were written with: not for one stored by a build that keeps none (which leaves
// them behind), nor past the cap, nor for a list with more of them than are kept.
TEST(StoredStoriesData, KeepsFirstSightingsApartForTheListTheyCameWith)
{
    const auto sighted = [](int i, qint64 seenMSecs) {
        auto s = story(linkNumber(i), 4'000'000'000);
        s->setFirstSeen(QDateTime::fromMSecsSinceEpoch(seenMSecs, Qt::UTC));
        return s;
    };
    StoredStoriesData stored;
    EXPECT_FALSE(stored.firstSightings());
    (void)stored.storeStories({ sighted(1, 1000), story(linkNumber(2), 10), sighted(3, 3000) });
    EXPECT_EQ(stored.firstSightings(),
        (QHash<QString, qint64> { { linkNumber(1), 1000 }, { linkNumber(3), 3000 } }));
    (void)stored.storeStories({});
    EXPECT_EQ(stored.firstSightings(), (QHash<QString, qint64> {}));

    StoredStoriesData::setMaxStoredStoriesForTesting(1);
    (void)stored.storeEncodedStories({ KeyedArchiver::encodedObject(*sighted(1, 1000)),
                                         KeyedArchiver::encodedObject(*sighted(2, 2000)) },
        {}, { { 0, linkNumber(1), 1000 }, { 1, linkNumber(2), 2000 } });
    StoredStoriesData::setMaxStoredStoriesForTesting(0);
    EXPECT_EQ(stored.firstSightings(), (QHash<QString, qint64> { { linkNumber(1), 1000 } }));

    // An older build stores the list and its time of loading only.
    (void)stored.localStore()->setValues({ { u"velmora.TickerlyShared.StoredStories"_s,
                                               KeyedArchiver::archivedDataWithRootObjects(
                                                   QList<std::shared_ptr<NewsStory>>()) },
        { u"velmora.TickerlyShared.LastLoaded"_s, QDateTime::currentDateTimeUtc().addSecs(1) } });
    EXPECT_FALSE(stored.firstSightings());

    QList<std::shared_ptr<NewsStory>> many;
    for (int i = 0; i <= StoredStoriesData::maxKeptSightings; ++i)
        many.append(sighted(i, 1000 + i));
    (void)stored.storeStories(many);
    EXPECT_FALSE(stored.firstSightings());
    many.removeLast();
    (void)stored.storeStories(many);
    ASSERT_TRUE(stored.firstSightings());
    EXPECT_EQ(stored.firstSightings()->size(), StoredStoriesData::maxKeptSightings);
}

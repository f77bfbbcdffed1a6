#include "data/model/ArchivedStoriesData.h"
#include "data/model/Shared.h"
#include "data/model/StoryStateData.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using StoryTest::linkNumber;
using StoryTest::linksOf;
using StoryTest::story;

namespace {

// A raw state record as another program or a damaged store may have written it.
class RawRecord : public Coding {
public:
    RawRecord(QString cls, std::optional<QString> storyLink, std::optional<qint64> stateNumber,
        std::shared_ptr<Coding> story)
        : className(std::move(cls))
        , link(std::move(storyLink))
        , state(stateNumber)
        , storyObject(std::move(story))
    {
    }
    QString className;
    std::optional<QString> link;
    std::optional<qint64> state;
    std::shared_ptr<Coding> storyObject;
    QString archivedClassName() const override { return className; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        if (link)
            coder.encodeUrl(*Url::fromString(*link), u"storyLink"_s);
        if (storyObject)
            coder.encodeObject(*storyObject, u"story"_s);
        if (state)
            coder.encodeInteger(*state, u"state"_s);
    }
};

} // namespace

TEST(StoryStateData, ReplacesStatesAndForgetsThemOnNone)
{
    StoryStateData states;
    EXPECT_EQ(states.stateForLink(u""_s), StoryState::None);
    EXPECT_FALSE(states.cachedData());

    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::None);
    ASSERT_TRUE(states.cachedData());
    EXPECT_TRUE(states.cachedData()->isEmpty());

    const auto s = story(linkNumber(1));
    (void)states.setState(*s, StoryState::Read);
    (void)states.setState(*story(linkNumber(2)), StoryState::Read);
    (void)states.setState(*s, StoryState::Deleted);
    EXPECT_FALSE(states.cachedData());
    ASSERT_TRUE(states.linkStateCache());
    EXPECT_TRUE(states.linkStateCache()->isEmpty());
    EXPECT_EQ(states.stateForStory(*s), StoryState::Deleted);
    ASSERT_EQ(states.cachedData()->size(), 2);
    EXPECT_EQ(states.cachedData()->first()->storyLink->absoluteString(), linkNumber(1));

    (void)states.setState(*s, StoryState::None);
    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::None);
    EXPECT_EQ(states.cachedData()->size(), 1);
    // Links are compared as exact texts.
    EXPECT_EQ(states.stateForLink(linkNumber(2) + u'/'), StoryState::None);
    EXPECT_EQ(states.stateForLink(linkNumber(2)), StoryState::Read);

    // A story without link changes nothing.
    (void)states.setState(*story(QString()), StoryState::Read);
    EXPECT_EQ(StoryStateData().stateForLink(linkNumber(2)), StoryState::Read);
}

TEST(StoryStateData, KeepsTheFiveHundredStatesSetLast)
{
    // 500 records, the one of link 0 set longest ago.
    QList<std::shared_ptr<StoryStateData::StateDescription>> full;
    for (int i = 499; i >= 0; --i)
        full.append(std::make_shared<StoryStateData::StateDescription>(
            *Url::fromString(linkNumber(i)), StoryState::Read));
    (void)sharedDefaults()->set(
        u"velmora.Tickerly.statedStoriesKey"_s, KeyedArchiver::archivedDataWithRootObjects(full));

    StoryStateData states;
    // An existing record moves to the front; nothing is dropped.
    (void)states.setState(*story(linkNumber(0)), StoryState::Deleted);
    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::Read);
    EXPECT_EQ(states.cachedData()->size(), 500);
    EXPECT_EQ(states.cachedData()->first()->storyLink->absoluteString(), linkNumber(0));
    // A new one pushes out the record set longest ago.
    (void)states.setState(*story(linkNumber(500)), StoryState::Read);
    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::None);
    EXPECT_EQ(states.stateForLink(linkNumber(0)), StoryState::Deleted);
    EXPECT_EQ(states.cachedData()->size(), 500);
}

TEST(StoryStateData, SeesAnotherObjectsStatesOnlyAfterAFlush)
{
    StoryStateData a;
    StoryStateData b;
    EXPECT_EQ(a.stateForLink(linkNumber(1)), StoryState::None);
    (void)b.setState(*story(linkNumber(1)), StoryState::Read);
    EXPECT_EQ(a.stateForLink(linkNumber(1)), StoryState::None);
    a.flushCache();
    EXPECT_EQ(a.stateForLink(linkNumber(1)), StoryState::Read);

    // A's stale cache does not make its next write lose B's state.
    (void)b.setState(*story(linkNumber(2)), StoryState::Deleted);
    (void)a.setState(*story(linkNumber(3)), StoryState::Read);
    EXPECT_EQ(a.stateForLink(linkNumber(2)), StoryState::Deleted);
}

TEST(StoryStateData, ReadsOddRecordsAndReplacesUnreadableValues)
{
    auto store = sharedDefaults();
    RawRecord seven(
        u"TickerlyDataMac.StoryStateData.StateDescription"_s, linkNumber(1), 7, nullptr);
    RawRecord linkless(
        u"TickerlyDataMac.StoryStateData.StateDescription"_s, std::nullopt, 1, nullptr);
    QList<std::shared_ptr<const Coding>> records { std::make_shared<RawRecord>(seven),
        std::make_shared<RawRecord>(linkless) };
    (void)store->set(
        u"velmora.Tickerly.statedStoriesKey"_s, KeyedArchiver::archivedDataWithRootArray(records));

    StoryStateData states;
    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::None);
    EXPECT_EQ(states.cachedData()->size(), 2);
    (void)states.setState(*story(linkNumber(1)), StoryState::Read);
    EXPECT_EQ(states.stateForLink(linkNumber(1)), StoryState::Read);
    EXPECT_EQ(states.cachedData()->size(), 2);

    for (const QVariant& junk :
        { QVariant(u"text"_s), QVariant(QByteArray("\xff\x00garbage", 9)) }) {
        (void)store->set(u"velmora.Tickerly.statedStoriesKey"_s, junk);
        StoryStateData fresh;
        EXPECT_EQ(fresh.stateForLink(linkNumber(1)), StoryState::None);
        (void)fresh.setState(*story(linkNumber(4)), StoryState::Read);
        EXPECT_EQ(fresh.stateForLink(linkNumber(4)), StoryState::Read);
    }
}

TEST(StoryStateData, KeepsStatesSetByTwoProgramsAtOnce)
{
    QProcess other;
    other.start(TestSupport::helperPath(u"story_states_helper"_s), { u"other/"_s, u"60"_s });
    ASSERT_TRUE(other.waitForStarted(30000));
    StoryStateData states;
    for (int i = 0; i < 60; ++i)
        (void)states.setState(
            *story(u"http://news.example/this/"_s + QString::number(i)), StoryState::Read);
    ASSERT_TRUE(other.waitForFinished(60000));
    ASSERT_EQ(other.exitCode(), 0);
    // The main thread keeps a change rather than wait long for the other program; it lands soon.
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return states.localStore()->keptChanges() == 0; }, 30000));

    states.flushCache();
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(states.stateForLink(u"http://news.example/this/"_s + QString::number(i)),
            StoryState::Read)
            << i;
        EXPECT_EQ(states.stateForLink(u"http://news.example/other/"_s + QString::number(i)),
            StoryState::Deleted)
            << i;
    }
}

// While another program holds the store, a story read or removed reads so at once in this
// process (a new object, the stored list's current stories), and once it is written the views
// are told; the state is then in the store for the other program too.
TEST(StoryStateData, StatesKeptWhileAnotherProgramHoldsTheStoreReadAsSetAtOnceAndAreAnnounced)
{
    StoreTest::WaitLimit limit(150);
    const auto read = story(u"http://story/1"_s, 2000);
    const auto removed = story(u"http://story/2"_s, 1000);
    ASSERT_EQ(StoredStoriesData().storeStories({ read, removed }), UserDefaults::Outcome::Done);
    QList<QVariantMap> told;
    const ObserverToken token
        = NotificationCenter::defaultCenter().addObserver(StoryStateData::keptChangeNotification(),
            nullptr, [&](const Notification& n) { told.append(n.userInfo); });
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);

    StoryStateData states;
    EXPECT_EQ(states.setState(*read, StoryState::Read), UserDefaults::Outcome::Kept);
    EXPECT_EQ(states.setState(*removed, StoryState::Deleted), UserDefaults::Outcome::Kept);
    EXPECT_EQ(StoryStateData().stateForStory(*read), StoryState::Read);
    EXPECT_EQ(StoryStateData().stateForStory(*removed), StoryState::Deleted);
    EXPECT_EQ(linksOf(StoredStoriesData().currentStories()), QStringList { u"http://story/1"_s });
    TestSupport::processEvents();
    EXPECT_TRUE(told.isEmpty()) << "nothing is written yet";

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return told.size() >= 2; }, 10000));
    EXPECT_FALSE(told[0].contains(StoryStateData::refusedChangeKey()));
    EXPECT_EQ(sharedDefaults()->keptChanges(), 0);
    // Read from the store now: nothing of this process is pending any more.
    EXPECT_TRUE(sharedDefaults()->value(u"velmora.Tickerly.statedStoriesKey"_s).isValid());
    EXPECT_EQ(StoryStateData().stateForStory(*read), StoryState::Read);
    EXPECT_EQ(StoryStateData().stateForStory(*removed), StoryState::Deleted);
}

TEST(ArchivedStoriesData, KeepsTheStoryGivenLastForALink)
{
    ArchivedStoriesData archive;
    EXPECT_TRUE(archive.storiesWithState(StoryState::Read).isEmpty());
    EXPECT_FALSE(archive.suggestedMaxAge());

    (void)archive.setState(story(linkNumber(1), 10, u"first"_s), StoryState::Read);
    (void)archive.setState(story(linkNumber(2), 20), StoryState::Read);
    (void)archive.setState(story(linkNumber(1), 10, u"second"_s), StoryState::Deleted);
    (void)archive.setState(story(QString()), StoryState::Read);
    EXPECT_EQ(linksOf(archive.storiesWithState(StoryState::Read)), QStringList { linkNumber(2) });
    const auto deleted = archive.storiesWithState(StoryState::Deleted);
    ASSERT_EQ(deleted.size(), 1);
    EXPECT_EQ(deleted.first()->headline(), u"second"_s);
    EXPECT_EQ(archive.stateForLink(linkNumber(1)), StoryState::Deleted);
    EXPECT_EQ(archive.stateForStory(*story(QString())), StoryState::None);
    EXPECT_EQ(linksOf(archive.storiesMatchingPredicate([](const auto&) { return true; })),
        (QStringList { linkNumber(1), linkNumber(2) }));
}

TEST(ArchivedStoriesData, SuggestsTheOldestDateOnceFull)
{
    // Set from newest to oldest story, so the cap drops the newest, not the oldest.
    QList<std::shared_ptr<ArchivedStoriesData::StateDescription>> records;
    for (int i = 498; i >= 0; --i)
        records.append(std::make_shared<ArchivedStoriesData::StateDescription>(
            story(linkNumber(i), 1'000'000 - i), StoryState::Read));
    (void)sharedDefaults()->set(u"velmora.Tickerly.archivedStoriesKey"_s,
        KeyedArchiver::archivedDataWithRootObjects(records));

    ArchivedStoriesData archive;
    EXPECT_FALSE(archive.suggestedMaxAge());
    (void)archive.setState(story(linkNumber(499), 1'000'000 - 499), StoryState::Read);
    ASSERT_TRUE(archive.suggestedMaxAge());
    EXPECT_EQ(archive.suggestedMaxAge()->toSecsSinceEpoch(), 1'000'000 - 499);

    (void)archive.setState(story(linkNumber(500), 2'000'000), StoryState::Read);
    EXPECT_EQ(archive.storiesWithState(StoryState::Read).size(), 500);
    EXPECT_EQ(archive.stateForLink(linkNumber(0)), StoryState::None);
    EXPECT_EQ(archive.suggestedMaxAge()->toSecsSinceEpoch(), 1'000'000 - 499);

    (void)archive.setState(story(linkNumber(501)), StoryState::Read);
    EXPECT_FALSE(archive.suggestedMaxAge());
}

TEST(ArchivedStoriesData, SkipsDamagedRecords)
{
    const QString cls = u"TickerlyDataMac.ArchivedStoriesData.StateDescription"_s;
    StoryTest::ArchivedStoryFixture good;
    good.link = linkNumber(1);
    good.sourceObject = StoryTest::source();
    auto goodStory = std::make_shared<StoryTest::ArchivedStoryFixture>(good);
    QList<std::shared_ptr<const Coding>> records {
        std::make_shared<RawRecord>(cls, std::nullopt, 9, goodStory),
        std::make_shared<RawRecord>(cls, std::nullopt, 1, nullptr),
        std::make_shared<RawRecord>(cls, std::nullopt, 2, goodStory),
    };
    (void)sharedDefaults()->set(u"velmora.Tickerly.archivedStoriesKey"_s,
        KeyedArchiver::archivedDataWithRootArray(records));
    ArchivedStoriesData archive;
    EXPECT_EQ(linksOf(archive.storiesMatchingPredicate([](const auto&) { return true; })),
        QStringList { linkNumber(1) });
    EXPECT_EQ(archive.stateForLink(linkNumber(1)), StoryState::Deleted);
}

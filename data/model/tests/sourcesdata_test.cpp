#include "data/model/ArchivedStoriesData.h"
#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/StoryStateData.h"
#include "data/model/TopFeedsData.h"
#include "data/model/UserInfo.h"
#include "data/model/tests/ModelTestSupport.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/store/UserDefaultsTesting.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

std::shared_ptr<Source> source(const QString& title, const QString& link)
{
    return std::make_shared<Source>(title, link);
}

QStringList titles(const QList<std::shared_ptr<Source>>& list)
{
    QStringList out;
    for (const auto& s : list)
        out.append(s->title());
    return out;
}

// Records every change notification of the process.
struct ChangeRecorder {
    struct Seen {
        const void* object;
        QVariantMap userInfo;
        bool onMainThread;
    };
    QList<Seen> seen;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [this](const Notification& n) {
            seen.append({ n.object, n.userInfo,
                QThread::currentThread() == QCoreApplication::instance()->thread() });
        });

    // Waits for `count` notifications, and lets any extra one arrive.
    bool waitFor(qsizetype count)
    {
        const bool ok = TestSupport::waitFor([&] { return seen.size() >= count; });
        TestSupport::processEvents();
        return ok;
    }
};

QList<int> positions(const QVariantMap& userInfo, const QString& key)
{
    return userInfo.value(key).value<QList<int>>();
}

} // namespace

TEST(SourcesData, AddsOnceAndAnnouncesThePositionOnALaterTurnOfTheMainLoop)
{
    SourcesData data;
    ChangeRecorder recorder;
    EXPECT_TRUE(data.sources().isEmpty());
    EXPECT_FALSE(data.isSourceAdded(*source(u"a"_s, u"http://a/"_s)));

    for (const QString& name : { u"a"_s, u"b"_s, u"c"_s })
        (void)data.addSource(source(name, u"http://"_s + name + u'/'));
    ASSERT_TRUE(recorder.waitFor(3));
    recorder.seen.clear();

    (void)data.addSource(source(u"d"_s, u"http://d/"_s));
    EXPECT_TRUE(recorder.seen.isEmpty());
    ASSERT_TRUE(recorder.waitFor(1));
    ASSERT_EQ(recorder.seen.size(), 1);
    EXPECT_EQ(recorder.seen[0].object, &data);
    EXPECT_TRUE(recorder.seen[0].onMainThread);
    EXPECT_EQ(recorder.seen[0].userInfo.keys(), QStringList { SourcesData::addedSourcesKey() });
    EXPECT_EQ(
        positions(recorder.seen[0].userInfo, SourcesData::addedSourcesKey()), QList<int> { 3 });

    // Another object over the same suite sees the list; an equal source changes nothing, nor
    // does the same feed under another title, and both count as done.
    SourcesData other;
    EXPECT_EQ(titles(other.sources()), (QStringList { u"a"_s, u"b"_s, u"c"_s, u"d"_s }));
    EXPECT_EQ(other.addSource(source(u"b"_s, u"http://b/"_s)), UserDefaults::Outcome::Done);
    EXPECT_EQ(
        other.addSource(source(u"B, renamed"_s, u"http://b/"_s)), UserDefaults::Outcome::Done);
    EXPECT_EQ(other.sourceWithLink(u"http://b/"_s)->title(), u"b"_s);
    EXPECT_FALSE(other.sourceWithLink(u"http://e/"_s));
    recorder.seen.clear();
    TestSupport::processEvents();
    EXPECT_TRUE(recorder.seen.isEmpty());
    EXPECT_EQ(other.sources().size(), 4);
}

TEST(SourcesData, AFeedReachedByAnotherSpellingOfItsAddressIsStoredOnce)
{
    SourcesData data;
    (void)data.addSource(source(u"BBC"_s, u"http://bbc-world.example/feed.xml"_s));
    for (const QString& link : { u"http://bbc-world.example:80/feed.xml"_s,
             u"http://bbc-world.example/feed.xml#top"_s, u"HTTP://BBC-World.example/feed.xml"_s })
        EXPECT_EQ(data.addSource(source(u"BBC"_s, link)), UserDefaults::Outcome::Done)
            << link.toStdString();
    ASSERT_EQ(data.sources().size(), 1);
    EXPECT_EQ(data.sources()[0]->link(), u"http://bbc-world.example/feed.xml"_s);
    EXPECT_EQ(data.sourceWithLink(u"http://bbc-world.example:80/feed.xml#top"_s)->link(),
        u"http://bbc-world.example/feed.xml"_s);

    // What names another resource is another source, and keeps its address as it was given.
    for (const QString& link :
        { u"http://bbc-world.example:8080/feed.xml"_s, u"https://bbc-world.example/feed.xml"_s,
            u"http://bbc-world.example/Feed.xml"_s, u"http://bbc-world.example/feed.xml?top"_s,
            u"https://bbc-world.example:80/feed.xml"_s })
        (void)data.addSource(source(u"BBC"_s, link));
    ASSERT_EQ(data.sources().size(), 6);
    EXPECT_EQ(data.sources()[5]->link(), u"https://bbc-world.example:80/feed.xml"_s);
    (void)data.addSource(source(u"BBC"_s, u"https://bbc-world.example:443/feed.xml#x"_s));
    EXPECT_EQ(data.sources().size(), 6);
}

TEST(SourcesData, RemovesUpdatesAndResetsAnnouncingTheChangedPositions)
{
    SourcesData data;
    // A list that holds one link twice, as lists stored by earlier versions may.
    (void)sharedDefaults()->set(u"velmora.Tickerly.sources"_s,
        KeyedArchiver::archivedDataWithRootObjects(
            QList<std::shared_ptr<Source>> { source(u"one"_s, u"http://same/"_s),
                source(u"other"_s, u"http://other/"_s), source(u"two"_s, u"http://same/"_s) }));
    ChangeRecorder recorder;
    TestSupport::processEvents();
    recorder.seen.clear();

    auto replacement = source(u"three"_s, u"http://same/"_s);
    (void)data.updateSource(replacement);
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(titles(data.sources()), (QStringList { u"three"_s, u"other"_s, u"three"_s }));
    EXPECT_EQ(
        positions(recorder.seen[0].userInfo, SourcesData::updatedSourcesKey()), QList<int> { 0 });

    // No stored link matches: nothing changes and nothing is posted.
    (void)data.updateSource(source(u"x"_s, u"http://nowhere/"_s));
    (void)data.removeSource(Source(u"absent"_s, u"http://other/"_s));
    TestSupport::processEvents();
    EXPECT_EQ(recorder.seen.size(), 1);

    (void)data.removeSource(Source(u"other"_s, u"http://other/"_s));
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(
        positions(recorder.seen[1].userInfo, SourcesData::removedSourcesKey()), QList<int> { 1 });
    EXPECT_EQ(titles(data.sources()), (QStringList { u"three"_s, u"three"_s }));

    (void)data.resetSources();
    ASSERT_TRUE(recorder.waitFor(3));
    EXPECT_TRUE(recorder.seen[2].userInfo.isEmpty());
    EXPECT_TRUE(data.sources().isEmpty());
}

TEST(SourcesData, SkipsDamagedEntriesAndReadsUnusableValuesAsEmpty)
{
    auto store = sharedDefaults();
    ArchivedSourceFixture legacy;
    legacy.title = u"legacy"_s;
    legacy.link = u"http://legacy/"_s;
    ArchivedSourceFixture noTitle;
    noTitle.link = u"http://broken/"_s;
    ArchivedSourceFixture unknown = legacy;
    unknown.className = u"Some.FutureClass"_s;
    (void)store->set(u"velmora.Tickerly.sources"_s,
        KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<ArchivedSourceFixture>> {
            std::make_shared<ArchivedSourceFixture>(noTitle),
            std::make_shared<ArchivedSourceFixture>(legacy),
            std::make_shared<ArchivedSourceFixture>(unknown) }));
    SourcesData data;
    EXPECT_EQ(titles(data.sources()), QStringList { u"legacy"_s });

    // A change rewrites the list without the entries that could not be read.
    (void)data.addSource(source(u"new"_s, u"http://new/"_s));
    EXPECT_EQ(titles(data.sources()), (QStringList { u"legacy"_s, u"new"_s }));

    (void)store->set(u"velmora.Tickerly.sources"_s, QByteArray("definitely not an archive"));
    EXPECT_TRUE(data.sources().isEmpty());
    (void)store->set(u"velmora.Tickerly.sources"_s,
        KeyedArchiver::archivedDataWithRootObject(Source(u"single"_s, u"x"_s)));
    EXPECT_TRUE(data.sources().isEmpty());
    (void)store->set(u"velmora.Tickerly.sources"_s, u"text"_s);
    EXPECT_TRUE(data.sources().isEmpty());
    (void)data.addSource(source(u"again"_s, u"http://again/"_s));
    EXPECT_EQ(titles(data.sources()), QStringList { u"again"_s });
}

TEST(SourcesData, ChangesFromManyThreadsAtOnceAreAllKept)
{
    constexpr int perThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            SourcesData data;
            for (int i = 0; i < perThread; ++i) {
                const QString name = QString::number(t) + u'-' + QString::number(i);
                (void)data.addSource(std::make_shared<Source>(name, u"http://"_s + name + u'/'));
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(SourcesData().sources().size(), 4 * perThread);
    TestSupport::processEvents();
}

namespace {

struct WaitLimit {
    explicit WaitLimit(int ms) { UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(ms)); }
    ~WaitLimit() { UserDefaults::setWriteWaitLimit(std::chrono::seconds(30)); }
};

std::unique_ptr<QProcess> startHelper(const QString& helper, const QStringList& args)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(TestSupport::helperPath(helper), args);
    return p;
}

bool finishedOk(QProcess& p)
{
    // A process whose end was already read while waiting for its last line is finished, though
    // waitForFinished says false for it.
    const bool finished
        = (p.state() == QProcess::NotRunning && p.error() != QProcess::FailedToStart)
        || p.waitForFinished(120000);
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray lineFrom(QProcess& p)
{
    TestSupport::waitFor(
        [&] {
            p.waitForReadyRead(10);
            return p.canReadLine() || p.state() == QProcess::NotRunning;
        },
        30000);
    return p.readLine().trimmed();
}

} // namespace

TEST(SourcesData, ThreeProgramsAddingSourcesAtOnceLoseNone)
{
    constexpr int count = 100;
    std::vector<std::unique_ptr<QProcess>> programs;
    for (const QString& prefix : { u"a"_s, u"b"_s, u"c"_s })
        programs.push_back(
            startHelper(u"data_helper"_s, { u"add-sources"_s, prefix, QString::number(count) }));
    for (auto& p : programs)
        EXPECT_TRUE(finishedOk(*p));
    QSet<QString> stored;
    for (const auto& s : SourcesData().sources())
        stored.insert(s->title());
    EXPECT_EQ(stored.size(), 3 * count);
    for (const QString& prefix : { u"a"_s, u"b"_s, u"c"_s })
        EXPECT_TRUE(stored.contains(prefix + u"0"_s)
            && stored.contains(prefix + QString::number(count - 1)));
}

// Another program stopped in the middle of a write: the user's changes wait, are kept, show in
// this process at once (announced then), and land (announced again) once the store is free.
TEST(SourcesData, ChangesWhileAnotherProgramHoldsTheStoreShowAtOnceAndLandLater)
{
    WaitLimit limit(150);
    SourcesData data;
    ASSERT_EQ(data.addSource(source(u"gone"_s, u"http://gone/"_s)), UserDefaults::Outcome::Done);
    ChangeRecorder changes;
    ASSERT_TRUE(changes.waitFor(1));
    changes.seen.clear();
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            holder->waitForReadyRead(10);
            return holder->canReadLine();
        },
        30000));
    ASSERT_EQ(holder->readLine().trimmed(), "holding");

    EXPECT_EQ(data.addSource(source(u"kept"_s, u"http://kept/"_s)), UserDefaults::Outcome::Kept);
    EXPECT_EQ(
        data.removeSource(*source(u"gone"_s, u"http://gone/"_s)), UserDefaults::Outcome::Kept);
    EXPECT_EQ(data.localStore()->keptChanges(), 2);
    // Every reader of this process sees them, in order, before the store has them.
    EXPECT_EQ(titles(SourcesData().sources()), QStringList { u"kept"_s });
    EXPECT_TRUE(SourcesData().isSourceAdded(*source(u"kept"_s, u"http://kept/"_s)));
    EXPECT_FALSE(SourcesData().sourceWithLink(u"http://gone/"_s));
    ASSERT_TRUE(changes.waitFor(2));
    ASSERT_EQ(changes.seen.size(), 2);
    EXPECT_EQ(
        positions(changes.seen[0].userInfo, SourcesData::addedSourcesKey()), QList<int> { 1 });
    EXPECT_EQ(
        positions(changes.seen[1].userInfo, SourcesData::removedSourcesKey()), QList<int> { 0 });
    // What is shown is a copy: changing it changes nothing kept.
    SourcesData().sources().first()->noIconFound = true;
    EXPECT_FALSE(SourcesData().sources().first()->noIconFound);

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    // Retried on the main queue without anyone asking, and announced as stored.
    ASSERT_TRUE(changes.waitFor(4));
    EXPECT_EQ(data.localStore()->keptChanges(), 0);
    EXPECT_EQ(titles(data.sources()), QStringList { u"kept"_s });
    EXPECT_FALSE(changes.seen[2].userInfo.contains(SourcesData::refusedChangeKey()));
    EXPECT_FALSE(changes.seen[3].userInfo.contains(SourcesData::refusedChangeKey()));
    EXPECT_EQ(data.localStore()->string(u"other"_s), u"x"_s);
    // Read from the store itself, not what this process keeps.
    QProcess reader;
    reader.start(TestSupport::helperPath(u"data_helper"_s), { u"titles"_s });
    ASSERT_TRUE(finishedOk(reader));
    EXPECT_EQ(reader.readAllStandardOutput().trimmed(), "kept");
}

// A kept change the store never takes (here: kept in memory only, the journal cannot be written,
// and given up as the program ends while the store is still held) is undone in what the program
// reads, and its views are told it was refused.
TEST(SourcesData, AKeptChangeThatIsNeverWrittenIsUndoneAndSaidToBeRefused)
{
    SourcesData data;
    ASSERT_EQ(data.addSource(source(u"stays"_s, u"http://stays/"_s)), UserDefaults::Outcome::Done);
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    auto program = startHelper(u"data_helper"_s, { u"remove-then-give-up"_s, u"http://stays/"_s });
    EXPECT_EQ(lineFrom(*program), "kept, shown: (none)");
    EXPECT_EQ(lineFrom(*program), "refused, shown: stays");
    // It may have ended while its last line was read.
    program->waitForFinished(60000);
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(data.localStore()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(titles(data.sources()), QStringList { u"stays"_s });
}

// A kept change the program could not write before its end (the store still held when it quit)
// is not given up: the next opening of the store writes it.
TEST(SourcesData, AKeptChangeLeftAtTheEndLandsAtTheNextOpening)
{
    SourcesData data;
    ASSERT_EQ(data.addSource(source(u"stays"_s, u"http://stays/"_s)), UserDefaults::Outcome::Done);
    ASSERT_EQ(data.addSource(source(u"goes"_s, u"http://goes/"_s)), UserDefaults::Outcome::Done);
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    auto program = startHelper(u"data_helper"_s, { u"remove-then-quit"_s, u"http://goes/"_s });
    EXPECT_EQ(lineFrom(*program), "kept, shown: stays");
    EXPECT_EQ(lineFrom(*program), "left");
    EXPECT_TRUE(finishedOk(*program));
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    ChangeRecorder changes;
    EXPECT_TRUE(data.localStore()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(titles(data.sources()), QStringList { u"stays"_s });
    // The views of the program that wrote it are told.
    EXPECT_TRUE(changes.waitFor(1));
}

// A person's changes kept while another program held the store, and then the program was
// killed: the next program to open the store writes each once, by itself.
TEST(SourcesData, ChangesKeptByAKilledProgramLandOnceAtTheNextOpening)
{
    SourcesData data;
    ASSERT_EQ(data.addSource(source(u"gone"_s, u"http://gone/"_s)), UserDefaults::Outcome::Done);
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");
    auto program = startHelper(u"data_helper"_s, { u"change-then-wait"_s });
    ASSERT_EQ(lineFrom(*program), "changed 4");
    program->kill();
    ASSERT_TRUE(program->waitForFinished(60000));
    EXPECT_EQ(program->exitStatus(), QProcess::CrashExit);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));

    QProcess next;
    next.start(TestSupport::helperPath(u"data_helper"_s), { u"titles-replayed"_s });
    ASSERT_TRUE(finishedOk(next));
    EXPECT_EQ(next.readAllStandardOutput().trimmed(), "new");
    EXPECT_TRUE(data.localStore()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(titles(data.sources()), QStringList { u"new"_s });
    EXPECT_EQ(StoryStateData().stateForLink(u"http://story/"_s), StoryState::Read);
    EXPECT_EQ(data.localStore()->string(u"other"_s), u"x"_s);
}

// A backlog of additions to the sources list reads the stored list at most once (not at all when
// this process wrote it last) and writes it once, however many it holds, so that a program quitting
// with a thousand of them rewrites one list, not a thousand, inside its hold of the store. Each
// addition still lands and is announced.
TEST(SourcesData, ABacklogOfAdditionsReadsTheStoredListOnceAndEachLands)
{
    WaitLimit limit(1);
    ChangeRecorder changes;
    SourcesData data;
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(data.addSource(source(u"stored"_s, u"http://stored/%1"_s.arg(i))),
            UserDefaults::Outcome::Done);
    ASSERT_TRUE(changes.waitFor(20));
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");
    constexpr int kept = 300;
    for (int i = 0; i < kept; ++i)
        ASSERT_EQ(data.addSource(source(u"kept"_s, u"http://kept/%1"_s.arg(i))),
            UserDefaults::Outcome::Kept);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));

    const quint64 before = KeyedUnarchiver::arraysReadForTesting();
    EXPECT_TRUE(data.localStore()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_LE(KeyedUnarchiver::arraysReadForTesting() - before, 1u);
    const auto stored = data.sources();
    ASSERT_EQ(stored.size(), 20 + kept);
    EXPECT_EQ(stored.last()->link(), u"http://kept/%1"_s.arg(kept - 1));
    EXPECT_TRUE(changes.waitFor(20 + kept));
    EXPECT_EQ(positions(changes.seen.last().userInfo, SourcesData::addedSourcesKey()),
        QList<int> { 20 + kept - 1 });
}

// A person's changes while another program holds the store: the program keeps answering, is
// quit before the store is free, and its changes land in order on its way out.
// Every view that hears of an addition reads the list again, as does the next change: the list
// this process wrote is not decoded again for any of them, and what each gets is its own to
// change. A list another writer stored is read as stored.
TEST(SourcesData, TheListThisProcessWroteIsReadAgainWithoutDecodingIt)
{
    const QString key = u"velmora.Tickerly.sources"_s;
    SourcesData data;
    (void)data.addSource(source(u"first"_s, u"http://first/"_s));
    const quint64 before = KeyedUnarchiver::arraysReadForTesting();
    for (int i = 0; i < 10; ++i) {
        const QString link = u"http://s/%1"_s.arg(i);
        ASSERT_EQ(data.addSource(source(u"s%1"_s.arg(i), link)), UserDefaults::Outcome::Done);
        ASSERT_EQ(data.sources().size(), i + 2);
        ASSERT_TRUE(data.sourceWithLink(link));
    }
    EXPECT_EQ(KeyedUnarchiver::arraysReadForTesting() - before, 0u);

    auto read = data.sources();
    read[1]->noIconFound = true;
    EXPECT_FALSE(data.sources()[1]->noIconFound);
    ASSERT_EQ(data.markSourcesWithoutIcon({ u"http://s/0"_s }), UserDefaults::Outcome::Done);
    read = data.sources();
    EXPECT_TRUE(read[1]->noIconFound);
    EXPECT_FALSE(read[2]->noIconFound);
    EXPECT_EQ(read.size(), 11);

    const QList<std::shared_ptr<Source>> other { source(u"other"_s, u"http://other/"_s) };
    ASSERT_EQ(data.localStore()->set(key, KeyedArchiver::archivedDataWithRootObjects(other)),
        UserDefaults::Outcome::Done);
    EXPECT_EQ(titles(data.sources()), QStringList { u"other"_s });
    ASSERT_EQ(data.addSource(source(u"after"_s, u"http://after/"_s)), UserDefaults::Outcome::Done);
    EXPECT_EQ(titles(data.sources()), (QStringList { u"other"_s, u"after"_s }));
    TestSupport::processEvents();
}

TEST(SourcesData, ChangesKeptWhenTheProgramQuitsAreWrittenInOrderOnItsWayOut)
{
    SourcesData data;
    ASSERT_EQ(data.addSource(source(u"gone"_s, u"http://gone/"_s)), UserDefaults::Outcome::Done);
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, data.localStore()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    auto program = startHelper(u"data_helper"_s, { u"change-then-quit"_s });
    EXPECT_EQ(lineFrom(*program), "changed 5");
    // Its timer goes on firing while the store stays locked.
    ASSERT_EQ(lineFrom(*program), "answering");
    EXPECT_EQ(titles(data.sources()), QStringList { u"gone"_s });
    program->write("quit\n");
    ASSERT_EQ(lineFrom(*program), "quitting");

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    ASSERT_TRUE(finishedOk(*program));
    EXPECT_EQ(titles(data.sources()), QStringList { u"new"_s });
    EXPECT_EQ(StoryStateData().stateForLink(u"http://story/"_s), StoryState::Read);
    EXPECT_EQ(data.localStore()->string(u"other"_s), u"x"_s);
}

// A story's picture arrives while another program holds the store: the caller goes on at once
// with the change kept, and it lands, moving the time of loading, once the store is free.
TEST(SourcesData, APictureThatArrivesWhileAnotherProgramHoldsTheStoreLandsLater)
{
    // Far longer than the test may run: a caller that waited for the lock would never return.
    WaitLimit limit(600'000);
    StoredStoriesData stored;
    const auto story
        = std::make_shared<NewsStory>(u"h"_s, u""_s, Url::fromString(u"http://story/1"_s),
            QDateTime::fromSecsSinceEpoch(1000, Qt::UTC), source(u"s"_s, u"http://s/"_s));
    (void)stored.storeStories({ story });
    const QString lastLoaded = u"velmora.TickerlyShared.LastLoaded"_s;
    (void)sharedDefaults()->set(lastLoaded, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    EXPECT_EQ(stored.updateImage(QImage(1, 1, QImage::Format_RGB32), *story),
        UserDefaults::Outcome::Kept);
    EXPECT_EQ(sharedDefaults()->keptChanges(), 1);
    EXPECT_EQ(stored.lastLoaded(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return sharedDefaults()->keptChanges() == 0; }));
    EXPECT_GT(*stored.lastLoaded(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    EXPECT_EQ(StoryTest::linksOf(stored.storedStories()), QStringList { u"http://story/1"_s });
}

// At launch a popular feed's site has no icon, and a first click reports the user: both change
// the store on the main thread while another program holds it. The window keeps answering, the
// changes land once the store is free, and the identifier is one throughout.
TEST(SourcesData, MainThreadChangesWhileAnotherProgramHoldsTheStoreKeepTheWindowAnswering)
{
    // Far longer than a frame: a change that waited for the lock would stall the window as long.
    WaitLimit limit(10'000);
    TopFeedsData feeds;
    (void)feeds.setTopFeeds(
        { std::make_shared<TopFeedSource>(3, source(u"feed"_s, u"http://feed/"_s)) });
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    UserDefaults::Outcome marked = UserDefaults::Outcome::Done;
    QString first;
    QString second;
    UserDefaultsTesting::resetLockWaits();
    marked = feeds.modifyTopFeeds(
        [](TopFeedsData::TopFeedList& list) { list.first()->source()->noIconFound = true; });
    first = UserInfo::userId();
    second = UserInfo::userId();
    const auto waits = UserDefaultsTesting::lockWaits();
    EXPECT_GE(waits.ranOut, 1);
    // Each found the lock taken and gave up within a frame or two.
    EXPECT_LE(waits.longestAllowedMs, 50);
    EXPECT_EQ(marked, UserDefaults::Outcome::Kept);
    EXPECT_EQ(first.size(), 36);
    EXPECT_EQ(second, first);

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return sharedDefaults()->keptChanges() == 0; }));
    EXPECT_EQ(sharedDefaults()->string(QString::fromUtf16(userDefaultsUUIDKey)), first);
    EXPECT_EQ(UserInfo::userId(), first);
    EXPECT_TRUE(feeds.topFeeds().first()->source()->noIconFound);
}

// A change kept for later stores the objects as they were when it was asked for, not as the
// window's objects have become by the time it is written, on whichever thread writes it.
TEST(SourcesData, AKeptChangeStoresItsObjectsAsTheyWereWhenAskedFor)
{
    WaitLimit limit(150);
    (void)TopFeedsData().setTopFeeds(
        { std::make_shared<TopFeedSource>(1, source(u"feed"_s, u"http://feed/"_s)) });
    const auto added = source(u"kept"_s, u"http://kept/"_s);
    const auto feed = std::make_shared<TopFeedSource>(3, source(u"feed"_s, u"http://feed/"_s));
    const auto story = StoryTest::story(u"http://story/1"_s, 1000);
    auto holder = startHelper(
        u"store_helper"_s, { u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(lineFrom(*holder), "holding");

    EXPECT_EQ(SourcesData().addSource(added), UserDefaults::Outcome::Kept);
    EXPECT_EQ(TopFeedsData().updateFeed(feed), UserDefaults::Outcome::Kept);
    EXPECT_EQ(ArchivedStoriesData().setState(story, StoryState::Read), UserDefaults::Outcome::Kept);
    added->noIconFound = true;
    feed->source()->noIconFound = true;
    story->setImageLink(Url::fromString(u"http://later/picture.png"_s));

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return sharedDefaults()->keptChanges() == 0; }));
    const auto sources = SourcesData().sources();
    ASSERT_EQ(titles(sources), QStringList { u"kept"_s });
    EXPECT_FALSE(sources.first()->noIconFound);
    const auto feeds = TopFeedsData().topFeeds();
    ASSERT_EQ(feeds.size(), 1);
    EXPECT_EQ(feeds.first()->hits(), 3);
    EXPECT_FALSE(feeds.first()->source()->noIconFound);
    const auto read = ArchivedStoriesData().storiesWithState(StoryState::Read);
    ASSERT_EQ(read.size(), 1);
    EXPECT_EQ(read.first()->link(), story->link());
    EXPECT_EQ(read.first()->imageLink(), std::nullopt);
}

// One damaged byte: what comes before it is still read, and the damaged bytes are kept aside
// before a change writes the list anew.
TEST(SourcesData, ADamagedStoredListKeepsWhatCanBeReadAndIsKeptAsideBeforeAChange)
{
    const QString key = u"velmora.Tickerly.sources"_s;
    SourcesData data;
    for (const QString& name : { u"first"_s, u"second"_s, u"third"_s })
        (void)data.addSource(source(name, u"http://"_s + name + u'/'));
    QByteArray bytes = *data.localStore()->data(key);
    const qsizetype third = bytes.indexOf("third");
    ASSERT_GT(third, 0);
    bytes[third - 1] = char(0xff);
    ASSERT_EQ(data.localStore()->set(key, bytes), UserDefaults::Outcome::Done);

    EXPECT_EQ(titles(data.sources()), (QStringList { u"first"_s, u"second"_s }));
    EXPECT_TRUE(data.localStore()->keptAside(key).empty());
    (void)data.addSource(source(u"new"_s, u"http://new/"_s));
    EXPECT_EQ(titles(data.sources()), (QStringList { u"first"_s, u"second"_s, u"new"_s }));
    EXPECT_EQ(data.localStore()->keptAside(key), std::vector<QByteArray> { bytes });
    TestSupport::processEvents();
}

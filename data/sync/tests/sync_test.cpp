#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/FeedParser.h"
#include "data/sync/Sync.h"
#include "data/model/tests/ReadOnlyStore.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <new>
#include <utility>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

// An RSS document with one item per entry: (link, seconds after 1970, or none for undated).
QByteArray feed(const QList<QPair<QString, std::optional<qint64>>>& items)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>";
    for (const auto& [link, seconds] : items) {
        doc += "<item><title>" + link.toUtf8() + "</title><link>" + link.toUtf8() + "</link>";
        if (seconds)
            doc += "<pubDate>"
                + QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC)
                      .toString(Qt::RFC2822Date)
                      .toUtf8()
                + "</pubDate>";
        doc += "</item>";
    }
    return doc + "</channel></rss>";
}

ScriptedReply ok(const QByteArray& body, int status = 200)
{
    ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

void addSource(const QString& link)
{
    (void)SourcesData().addSource(std::make_shared<Source>(link, link));
}

QStringList storedLinks()
{
    QStringList out;
    for (const auto& story : StoredStoriesData().storedStories())
        out.append(story->link() ? story->link()->absoluteString() : u"-"_s);
    return out;
}

// An address on which nothing answers.
QString deadLink() { return u"http://127.0.0.1:9/feed"_s; }

// Records what the completion of a run was given, and where it ran.
struct Outcome {
    int calls = 0;
    bool success = false;
    bool onMainThread = false;
    Sync::Completion completion()
    {
        return [this](bool value) {
            ++calls;
            success = value;
            onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        };
    }
};

void expectIdle(const Sync& sync)
{
    EXPECT_FALSE(sync.completion());
    EXPECT_FALSE(sync.session());
    EXPECT_FALSE(sync.workingStories());
}

// Runs one refresh to its completion; whether it reported within the bound.
bool refreshed()
{
    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    return TestSupport::waitFor([&] { return outcome.calls > 0; });
}

class SyncTest : public ::testing::Test {
protected:
    void TearDown() override { UrlSessionTesting::closeIdleConnections(); }
    LoopbackServer server;
};

} // namespace

TEST_F(SyncTest, WithoutSourcesStoresAnEmptyListAtOnce)
{
    (void)StoredStoriesData().storeStories(
        { std::make_shared<NewsStory>(u"old"_s, u""_s, Url::fromString(u"http://old/"_s),
            std::optional<QDateTime>(), std::make_shared<Source>(u"s"_s, u"http://s/"_s)) });
    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.success);
    EXPECT_FALSE(sync->session());
    EXPECT_TRUE(storedLinks().isEmpty());
    EXPECT_TRUE(StoredStoriesData().lastLoaded());
}

TEST_F(SyncTest, StoresTheStoriesOfEveryFeedInterleavedByDate)
{
    server.reply(u"/a"_s,
        ok(feed({ { u"http://a/1"_s, 100 }, { u"http://a/3"_s, 300 },
            { u"http://a/none"_s, std::nullopt } })));
    server.reply(u"/b"_s, ok(feed({ { u"http://b/2"_s, 200 }, { u"http://b/4"_s, 400 } })));
    addSource(server.url(u"/a"_s));
    addSource(u"not a link"_s);
    addSource(deadLink());
    addSource(server.url(u"/b"_s));

    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_TRUE(outcome.success);
    EXPECT_TRUE(outcome.onMainThread);
    EXPECT_EQ(storedLinks(),
        (QStringList { u"http://b/4"_s, u"http://a/3"_s, u"http://b/2"_s, u"http://a/1"_s,
            u"http://a/none"_s }));
    EXPECT_EQ(sync->sources()->size(), 4);
    expectIdle(*sync);
    TestSupport::processEvents();
    EXPECT_EQ(outcome.calls, 1);
    // Every feed is fetched afresh, past any cache on the way.
    EXPECT_EQ(server.requests().first().header("cache-control"), QByteArray("no-cache"));
}

// Stories whose dates are equal, the undated ones among them, keep their feeds' order, and the
// feeds their sources' order, however the downloads end.
TEST_F(SyncTest, KeepsFeedOrderAmongStoriesOfEqualDates)
{
    QList<QPair<QString, std::optional<qint64>>> first;
    QList<QPair<QString, std::optional<qint64>>> second;
    QStringList expected;
    for (int i = 0; i < 40; ++i)
        first.append({ u"http://first/%1"_s.arg(i),
            i % 4 == 0 ? std::optional<qint64>(500) : std::nullopt });
    for (int i = 0; i < 10; ++i)
        second.append({ u"http://second/%1"_s.arg(i),
            i % 2 == 0 ? std::optional<qint64>(500) : std::nullopt });
    for (const bool dated : { true, false }) {
        for (const auto* items : { &first, &second }) {
            for (const auto& [link, seconds] : *items) {
                if (seconds.has_value() == dated)
                    expected.append(link);
            }
        }
    }
    ScriptedReply late = ok(feed(first));
    late.delayMs = 200;
    server.reply(u"/first"_s, late);
    server.reply(u"/second"_s, ok(feed(second)));
    addSource(server.url(u"/first"_s));
    addSource(server.url(u"/second"_s));

    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(refreshed());
        EXPECT_EQ(storedLinks(), expected);
    }
}

TEST_F(SyncTest, SortsStoriesOfEveryFeedFormatByTheirOwnDates)
{
    server.reply(u"/atom"_s,
        ok("<feed xmlns=\"http://www.w3.org/2005/Atom\"><updated>2030-01-01T00:00:00Z</updated>"
           "<entry><link "
           "href=\"http://atom/updated\"/><updated>2024-05-01T12:00:00Z</updated></entry>"
           "<entry><link href=\"http://atom/both\"/><updated>2024-05-09T00:00:00Z</updated>"
           "<published>2024-04-01T00:00:00Z</published></entry>"
           "<entry><link href=\"http://atom/none\"/></entry></feed>"));
    server.reply(u"/rss"_s,
        ok(feed({ { u"http://rss/1"_s,
            QDateTime(QDate(2024, 4, 15), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() } })));
    server.reply(u"/rdf"_s,
        ok("<rdf:RDF><item><link>http://rdf/1</link><dc:date>2024-03-01T00:00:00Z</dc:date></"
           "item></rdf:RDF>"));
    for (const QString& path : { u"/atom"_s, u"/rss"_s, u"/rdf"_s })
        addSource(server.url(path));

    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_EQ(storedLinks(),
        (QStringList { u"http://atom/updated"_s, u"http://rss/1"_s, u"http://atom/both"_s,
            u"http://rdf/1"_s, u"http://atom/none"_s }));
}

// A story dated past the refresh (beyond a few minutes of clock skew) ranks as loaded then, in
// its feed's order, instead of above every later story for good; the stored story keeps its date.
TEST_F(SyncTest, RanksStoriesDatedInTheFutureAsLoaded)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 farFuture
        = QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC).toSecsSinceEpoch();
    const qint64 future = QDateTime(QDate(2400, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    server.reply(u"/odd"_s,
        ok(feed({ { u"http://odd/9999"_s, farFuture }, { u"http://odd/2400"_s, future },
            { u"http://odd/hour-ago"_s, now - 3600 } })));
    server.reply(u"/ahead"_s,
        ok(feed({ { u"http://ahead/day"_s, now + 86400 }, { u"http://ahead/skew"_s, now + 60 } })));
    server.reply(u"/plain"_s,
        ok(feed({ { u"http://plain/minute-ago"_s, now - 60 }, { u"http://plain/old"_s, 1000 } })));
    addSource(server.url(u"/odd"_s));
    addSource(server.url(u"/ahead"_s));
    addSource(server.url(u"/plain"_s));

    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_EQ(storedLinks(),
        (QStringList { u"http://ahead/skew"_s, u"http://odd/9999"_s, u"http://odd/2400"_s,
            u"http://ahead/day"_s, u"http://plain/minute-ago"_s, u"http://odd/hour-ago"_s,
            u"http://plain/old"_s }));
    const auto stored = StoredStoriesData().storedStories();
    ASSERT_EQ(stored.size(), 7);
    EXPECT_EQ(stored[1]->date()->toSecsSinceEpoch(), farFuture);
    EXPECT_EQ(stored[3]->date()->toSecsSinceEpoch(), now + 86400);
}

// A story dated in the future ranks by when it was first seen, refresh after refresh: stories
// published since pass it. A list stored before sightings were kept was seen when it was stored.
TEST_F(SyncTest, RanksAStoryDatedInTheFutureByItsFirstSighting)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QDateTime farFuture(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC);
    const auto source = std::make_shared<Source>(u"s"_s, u"http://s/"_s);
    (void)StoredStoriesData().storeStories({ std::make_shared<NewsStory>(
        u"ahead"_s, u""_s, Url::fromString(u"http://odd/9999"_s), farFuture, source) });
    const QDateTime twoHoursAgo = QDateTime::fromSecsSinceEpoch(now - 7200, Qt::UTC);
    (void)StoredStoriesData().localStore()->set(
        u"velmora.TickerlyShared.LastLoaded"_s, twoHoursAgo);
    ASSERT_EQ(StoredStoriesData().lastLoaded(), twoHoursAgo);

    server.reply(u"/odd"_s,
        ok(feed({ { u"http://odd/9999"_s, farFuture.toSecsSinceEpoch() },
            { u"http://odd/new-ahead"_s, farFuture.toSecsSinceEpoch() },
            { u"http://odd/three-hours"_s, now - 3 * 3600 } })));
    server.reply(u"/news"_s, ok(feed({ { u"http://news/hour-ago"_s, now - 3600 } })));
    addSource(server.url(u"/odd"_s));
    addSource(server.url(u"/news"_s));

    const QStringList expected { u"http://odd/new-ahead"_s, u"http://news/hour-ago"_s,
        u"http://odd/9999"_s, u"http://odd/three-hours"_s };
    for (int refresh = 0; refresh < 2; ++refresh) {
        auto sync = Sync::create();
        Outcome outcome;
        sync->updateStories(std::nullopt, outcome.completion());
        ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
        // The second time the list was stored now: what ranks the old story is its own sighting.
        EXPECT_EQ(storedLinks(), expected) << "refresh " << refresh;
        const auto stored = StoredStoriesData().storedStories();
        ASSERT_EQ(stored.size(), 4);
        EXPECT_EQ(stored[2]->date(), farFuture);
        EXPECT_EQ(stored[2]->dateAsLoadedAt(QDateTime::currentDateTimeUtc()), twoHoursAgo);
    }
}

// The stored stories' sightings are kept apart from the list, so a story dated ahead is ranked
// without reading the stored list at all: here a list that no longer reads.
TEST_F(SyncTest, RanksAStoryDatedAheadWithoutReadingTheStoredList)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QDateTime farFuture(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC);
    const QDateTime twoHoursAgo = QDateTime::fromSecsSinceEpoch(now - 7200, Qt::UTC);
    auto sighted
        = std::make_shared<NewsStory>(u"ahead"_s, u""_s, Url::fromString(u"http://odd/9999"_s),
            farFuture, std::make_shared<Source>(u"s"_s, u"http://s/"_s));
    sighted->setFirstSeen(twoHoursAgo);
    ASSERT_EQ(StoredStoriesData().storeStories({ sighted }), UserDefaults::Outcome::Done);
    (void)StoredStoriesData().localStore()->set(
        u"velmora.TickerlyShared.StoredStories"_s, QByteArray("no list"));

    server.reply(u"/odd"_s,
        ok(feed({ { u"http://odd/9999"_s, farFuture.toSecsSinceEpoch() },
            { u"http://odd/new-ahead"_s, farFuture.toSecsSinceEpoch() } })));
    server.reply(u"/news"_s, ok(feed({ { u"http://news/hour-ago"_s, now - 3600 } })));
    addSource(server.url(u"/odd"_s));
    addSource(server.url(u"/news"_s));
    for (int refresh = 0; refresh < 2; ++refresh) {
        ASSERT_TRUE(refreshed());
        EXPECT_EQ(storedLinks(),
            (QStringList {
                u"http://odd/new-ahead"_s, u"http://news/hour-ago"_s, u"http://odd/9999"_s }))
            << "refresh " << refresh;
        // The next refresh finds both sightings kept apart by this one.
        (void)StoredStoriesData().localStore()->set(
            u"velmora.TickerlyShared.StoredStories"_s, QByteArray("no list"));
    }
}

TEST_F(SyncTest, KeepsTheStoredListWhenNoDownloadBringsAFeed)
{
    server.reply(u"/ok"_s, ok(feed({ { u"http://kept/1"_s, 10 } })));
    addSource(server.url(u"/ok"_s));
    {
        auto first = Sync::create();
        Outcome outcome;
        first->updateStories(std::nullopt, outcome.completion());
        ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    }
    const QDateTime loaded = *StoredStoriesData().lastLoaded();
    (void)SourcesData().resetSources();

    const QList<QPair<QString, std::function<void()>>> runs {
        { u"all fail"_s,
            [&] {
                addSource(deadLink());
                addSource(u"http://127.0.0.1:7/x"_s);
            } },
        { u"no valid link"_s,
            [&] {
                addSource(u"::"_s);
                addSource(u"http://a b/"_s);
            } },
        { u"error pages"_s,
            [&] {
                server.reply(
                    u"/portal"_s, ok("<html><body>Sign in to continue</body></html>", 200));
                server.reply(u"/down"_s, ok("<html><body>Bad gateway</body></html>", 502));
                addSource(server.url(u"/portal"_s));
                addSource(server.url(u"/down"_s));
            } },
    };
    for (const auto& [name, setUp] : runs) {
        (void)SourcesData().resetSources();
        setUp();
        auto sync = Sync::create();
        Outcome outcome;
        sync->updateStories(std::nullopt, outcome.completion());
        ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; })) << name.toStdString();
        EXPECT_FALSE(outcome.success) << name.toStdString();
        EXPECT_TRUE(outcome.onMainThread);
        EXPECT_EQ(storedLinks(), QStringList { u"http://kept/1"_s }) << name.toStdString();
        EXPECT_EQ(*StoredStoriesData().lastLoaded(), loaded);
        expectIdle(*sync);
    }
}

// A download that failed, whatever its bytes, adds no stories; an error page beside a feed is
// read and adds none either.
TEST_F(SyncTest, AFailedDownloadAddsNoStoriesBesideSoundFeeds)
{
    const QByteArray cutFeed
        = feed({ { u"http://cut/1"_s, 50 }, { u"http://cut/2"_s, 60 }, { u"http://cut/3"_s, 70 } });
    ScriptedReply cut = ok(cutFeed);
    cut.cutAfter = cutFeed.indexOf("http://cut/3");
    server.reply(u"/cut"_s, cut);
    ScriptedReply stalled = ok(feed({ { u"http://stalled/1"_s, 80 } }));
    stalled.cutAfter = stalled.body.size() - 20;
    stalled.stallMs = 3000;
    server.reply(u"/stalled"_s, stalled);
    server.reply(u"/error"_s, ok("<html>Not found</html>", 404));
    server.reply(u"/sound"_s, ok(feed({ { u"http://sound/1"_s, 40 } })));
    addSource(server.url(u"/cut"_s));
    addSource(server.url(u"/stalled"_s));
    addSource(server.url(u"/error"_s));
    addSource(server.url(u"/sound"_s));

    auto sync = Sync::create();
    Outcome outcome;
    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 1;
    sync->updateStories(configuration, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }, 30000));
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(storedLinks(), QStringList { u"http://sound/1"_s });
}

// A plain refresh keeps a feed's stories only until they are archived: by the time it reports,
// none of them holds its source any more, however many it stored.
TEST_F(SyncTest, APlainRefreshLetsGoOfEachFeedsStoriesOnceArchived)
{
    constexpr int perFeed = 200;
    for (int f = 0; f < 3; ++f) {
        QList<QPair<QString, std::optional<qint64>>> items;
        for (int i = 0; i < perFeed; ++i)
            items.append({ u"http://many%1/%2"_s.arg(f).arg(i), 1000 * f + i });
        server.reply(u"/many%1"_s.arg(f), ok(feed(items)));
        addSource(server.url(u"/many%1"_s.arg(f)));
    }
    auto sync = Sync::create();
    long heldMost = 0;
    bool done = false;
    sync->updateStories(std::nullopt, [&](bool) {
        for (const auto& source : *sync->sources())
            heldMost = std::max(heldMost, source.use_count());
        done = true;
    });
    ASSERT_TRUE(TestSupport::waitFor([&] { return done; }));
    EXPECT_EQ(StoredStoriesData().storedStories().size(), 3 * perFeed);
    EXPECT_LT(heldMost, perFeed);
}

// A plain refresh reads a feed as it arrives: its first stories are made while the rest of it
// is still on its way, so the whole body is never held.
TEST_F(SyncTest, APlainRefreshReadsAFeedWhileTheRestOfItIsOnItsWay)
{
    QList<QPair<QString, std::optional<qint64>>> items;
    for (int i = 0; i < 50; ++i)
        items.append({ u"http://arriving/%1"_s.arg(i), 1000 + i });
    ScriptedReply slow = ok(feed(items));
    slow.cutAfter = slow.body.indexOf("http://arriving/45");
    slow.stallMs = 3000;
    server.reply(u"/arriving"_s, slow);
    addSource(server.url(u"/arriving"_s));

    auto sync = Sync::create();
    sync->updateStories(std::nullopt, {});
    ASSERT_TRUE(sync->sources() && sync->sources()->size() == 1);
    const std::shared_ptr<Source> source = sync->sources()->first();
    // Each story made holds its source.
    EXPECT_TRUE(TestSupport::waitFor([&] { return source.use_count() > 40; }));
    sync->cancel();
}

TEST_F(SyncTest, CancelledWhileDownloadingReportsNothingAndKeepsTheList)
{
    ScriptedReply slow = ok(feed({ { u"http://slow/1"_s, 1 } }));
    slow.delayMs = 3000;
    server.reply(u"/slow"_s, slow);
    addSource(server.url(u"/slow"_s));

    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requestCount(u"/slow"_s) == 1; }));
    sync->cancel();
    EXPECT_TRUE(sync->isCancelled());

    // A cancelled object starts nothing more.
    sync->updateStories(std::nullopt, outcome.completion());
    EXPECT_EQ(outcome.calls, 0);

    // Each step of a run holds the object until it has run, a report on the main queue too.
    const std::weak_ptr<Sync> run = std::exchange(sync, nullptr);
    ASSERT_TRUE(TestSupport::waitFor([&] { return run.expired(); }));
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_TRUE(storedLinks().isEmpty());
    EXPECT_FALSE(StoredStoriesData().lastLoaded());
}

namespace {
// Cancels its own run as soon as the first feed has been read.
class CancellingSync : public Sync {
public:
    static std::shared_ptr<CancellingSync> make()
    {
        return std::shared_ptr<CancellingSync>(new CancellingSync());
    }
    std::atomic<int> parsed = 0;

protected:
    std::shared_ptr<FeedParser> parseFeed(
        const QByteArray& data, const std::shared_ptr<Source>& source) override
    {
        auto parser = Sync::parseFeed(data, source);
        if (++parsed == 1)
            cancel();
        return parser;
    }
};
} // namespace

TEST_F(SyncTest, CancelledWhileParsingStoresWhatWasReadWithoutReporting)
{
    server.reply(u"/one"_s, ok(feed({ { u"http://one/1"_s, 1 } })));
    server.reply(u"/two"_s, ok(feed({ { u"http://two/1"_s, 2 } })));
    addSource(server.url(u"/one"_s));
    addSource(server.url(u"/two"_s));

    auto sync = CancellingSync::make();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return StoredStoriesData().lastLoaded().has_value(); }));
    EXPECT_EQ(sync->parsed, 1);
    const QStringList stored = storedLinks();
    EXPECT_TRUE(
        stored == QStringList { u"http://one/1"_s } || stored == QStringList { u"http://two/1"_s });
    const std::weak_ptr<CancellingSync> run = std::exchange(sync, nullptr);
    ASSERT_TRUE(TestSupport::waitFor([&] { return run.expired(); }));
    EXPECT_EQ(outcome.calls, 0);
}

namespace {
// Reads the feed of `swapped` from other bytes than those downloaded.
class SwappingSync : public Sync {
public:
    static std::shared_ptr<SwappingSync> make()
    {
        return std::shared_ptr<SwappingSync>(new SwappingSync());
    }
    QString swapped;
    QByteArray replacement;
    std::atomic<int> calls = 0;

protected:
    std::shared_ptr<FeedParser> parseFeed(
        const QByteArray& data, const std::shared_ptr<Source>& source) override
    {
        ++calls;
        return Sync::parseFeed(source->link() == swapped ? replacement : data, source);
    }
};
} // namespace

// Feeds are read as their downloads complete, yet every feed still passes the parsing step once,
// and what that step is given decides: a feed read ahead is only handed out for its own bytes.
TEST_F(SyncTest, FeedsReadAheadStillPassTheParsingStep)
{
    for (int i = 0; i < 12; ++i) {
        const QString path = u"/f%1"_s.arg(i);
        server.reply(path,
            ok(feed({ { u"http://f%1/1"_s.arg(i), 1000 + i }, { u"http://f%1/2"_s.arg(i), 5 } })));
        addSource(server.url(path));
    }
    auto sync = SwappingSync::make();
    sync->swapped = server.url(u"/f3"_s);
    sync->replacement = feed({ { u"http://swapped/1"_s, 2000 } });
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(sync->calls, 12);
    const QStringList stored = storedLinks();
    ASSERT_EQ(stored.size(), 23);
    EXPECT_EQ(stored.first(), u"http://swapped/1"_s);
    EXPECT_EQ(stored[1], u"http://f11/1"_s);
    EXPECT_FALSE(stored.contains(u"http://f3/1"_s));
    expectIdle(*sync);
}

namespace {
// While alive, reading a stored source first runs `hook`.
class SourceReadingHook {
public:
    explicit SourceReadingHook(std::function<void()> hook)
    {
        Source::registerArchiveClasses();
        KeyedUnarchiver::registerClass(sourceClassName,
            [hook = std::move(hook)](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                hook();
                return Source::initWithCoder(coder);
            });
    }
    ~SourceReadingHook()
    {
        KeyedUnarchiver::registerClass(
            sourceClassName, [](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                return Source::initWithCoder(coder);
            });
    }
    SourceReadingHook(const SourceReadingHook&) = delete;
    SourceReadingHook& operator=(const SourceReadingHook&) = delete;

private:
    const QString sourceClassName = u"TickerlyDataMac.Source"_s;
};
} // namespace

// A cancel from another thread can land while the run is still reading its sources.
TEST_F(SyncTest, CancelledWhileReadingTheSourcesLetsGoOfItsSession)
{
    server.reply(u"/a"_s, ok(feed({ { u"http://a/1"_s, 1 } })));
    // Stored as another program stores it: the list this process wrote last is read without
    // decoding it, which would run no hook.
    const QString link = server.url(u"/a"_s);
    ASSERT_EQ(SourcesData().localStore()->set(u"velmora.Tickerly.sources"_s,
                  KeyedArchiver::archivedDataWithRootObjects(
                      QList<std::shared_ptr<Source>> { std::make_shared<Source>(link, link) })),
        UserDefaults::Outcome::Done);

    auto sync = Sync::create();
    const std::weak_ptr<Sync> watched = sync;
    Outcome outcome;
    {
        const SourceReadingHook cancelOnRead([&] { sync->cancel(); });
        sync->updateStories(std::nullopt, outcome.completion());
    }
    ASSERT_TRUE(sync->isCancelled());
    sync.reset();
    EXPECT_TRUE(TestSupport::waitFor([&] { return watched.expired(); }));
    EXPECT_EQ(outcome.calls, 0);
    EXPECT_FALSE(StoredStoriesData().lastLoaded());
}

// A feed of short items that never ends (here: one past the size cap, sent without a length) is
// refused at the cap; none of the thousands of stories before the cut is stored, so the sound
// feed's stories are all that is stored. A feed whose reading runs out of memory costs its own
// stories only.
namespace {
class StarvedSync : public Sync {
public:
    static std::shared_ptr<StarvedSync> make()
    {
        return std::shared_ptr<StarvedSync>(new StarvedSync());
    }
    QString starved;

protected:
    std::shared_ptr<FeedParser> parseFeed(
        const QByteArray& data, const std::shared_ptr<Source>& source) override
    {
        if (source->link() == starved)
            throw std::bad_alloc();
        return Sync::parseFeed(data, source);
    }
};
} // namespace

TEST_F(SyncTest, AFeedRefusedForItsSizeOrOutOfMemoryAddsNoStories)
{
    QList<QPair<QString, std::optional<qint64>>> items;
    for (int i = 0; i < 2000; ++i)
        items.append({ u"http://endless/"_s + QString::number(i), 100 + i });
    QByteArray endless = feed(items);
    endless.insert(
        endless.indexOf("</channel>"), "<!--" + QByteArray(UrlRequest::feedBodyLimit, 'x') + "-->");
    ScriptedReply endlessReply = ok(endless);
    endlessReply.chunked = true;
    server.reply(u"/endless"_s, endlessReply);
    server.reply(u"/small"_s, ok(feed({ { u"http://small/1"_s, 1 } })));
    server.reply(u"/starved"_s, ok(feed({ { u"http://starved/1"_s, 2 } })));
    addSource(server.url(u"/endless"_s));
    addSource(server.url(u"/small"_s));

    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }, 30000));
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(storedLinks(), QStringList { u"http://small/1"_s });

    (void)SourcesData().resetSources();
    addSource(server.url(u"/small"_s));
    addSource(server.url(u"/starved"_s));
    auto starved = StarvedSync::make();
    starved->starved = server.url(u"/starved"_s);
    Outcome starvedOutcome;
    starved->updateStories(std::nullopt, starvedOutcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return starvedOutcome.calls > 0; }, 30000));
    EXPECT_TRUE(starvedOutcome.success);
    EXPECT_EQ(storedLinks(), QStringList { u"http://small/1"_s });
    expectIdle(*starved);
}

namespace {
// Reads every feed as a plain Sync would, recording the stories in the order they are gathered.
class RecordingSync : public Sync {
public:
    static std::shared_ptr<RecordingSync> make()
    {
        return std::shared_ptr<RecordingSync>(new RecordingSync());
    }
    QList<std::shared_ptr<NewsStory>> gathered;

protected:
    std::shared_ptr<FeedParser> parseFeed(
        const QByteArray& data, const std::shared_ptr<Source>& source) override
    {
        auto parser = Sync::parseFeed(data, source);
        gathered.append(parser->stories);
        return parser;
    }
};

// The stored stories, each archived on its own, and their dates.
QList<QByteArray> storedStoriesArchived(QList<qint64>* dates = nullptr)
{
    QList<QByteArray> out;
    for (const auto& story : StoredStoriesData().storedStories()) {
        out.append(KeyedArchiver::encodedObject(*story));
        if (dates)
            dates->append(story->date() ? story->date()->toSecsSinceEpoch() : 0);
    }
    return out;
}
} // namespace

// A plain refresh archives each feed's stories as it reads them and lets its bytes go; what it
// stores must not differ from a refresh whose parsing step is overridden, which reads and
// archives everything at the end. Equal dates (and missing ones) keep the order the stories were
// gathered in.
TEST_F(SyncTest, StoresTheSameStoriesWhetherOrNotTheParsingStepIsOverridden)
{
    for (int i = 0; i < 12; ++i) {
        QList<QPair<QString, std::optional<qint64>>> items;
        for (int j = 0; j < 10; ++j) {
            const std::optional<qint64> seconds
                = j % 3 == 0 ? std::nullopt : std::optional<qint64>(100 * (j % 3));
            items.append({ u"http://tie%1/%2"_s.arg(i).arg(j), seconds });
        }
        const QString path = u"/tie%1"_s.arg(i);
        server.reply(path, ok(feed(items)));
        addSource(server.url(path));
    }
    server.reply(u"/portal"_s, ok("<html><body>Sign in</body></html>"));
    addSource(server.url(u"/portal"_s));

    auto recording = RecordingSync::make();
    Outcome overridden;
    recording->updateStories(std::nullopt, overridden.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return overridden.calls > 0; }));
    ASSERT_TRUE(overridden.success);
    QList<std::shared_ptr<NewsStory>> expected = recording->gathered;
    ASSERT_EQ(expected.size(), 120);
    std::stable_sort(
        expected.begin(), expected.end(), [](const auto& a, const auto& b) { return *a > *b; });
    QStringList expectedLinks;
    for (const auto& story : expected)
        expectedLinks.append(story->link()->absoluteString());
    EXPECT_EQ(storedLinks(), expectedLinks);
    QList<QByteArray> storedByOverride = storedStoriesArchived();

    (void)StoredStoriesData().storeStories({});
    auto plain = Sync::create();
    Outcome outcome;
    plain->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_TRUE(outcome.success);
    QList<qint64> dates;
    QList<QByteArray> storedPlainly = storedStoriesArchived(&dates);
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end(), std::greater<>()));
    std::sort(storedByOverride.begin(), storedByOverride.end());
    std::sort(storedPlainly.begin(), storedPlainly.end());
    EXPECT_EQ(storedPlainly, storedByOverride);
    expectIdle(*plain);
}

// A refresh whose stories the store refuses has replaced nothing, and says so; one whose stories
// are kept while another program holds the store has them stored once it is free.
TEST_F(SyncTest, StoriesTheStoreRefusesAreAFailureAndKeptOnesLandLater)
{
    server.reply(u"/a"_s, ok(feed({ { u"http://a/new"_s, 100 } })));
    addSource(server.url(u"/a"_s));
    {
        StoreTest::WaitLimit limit(150);
        auto holder = StoreTest::startHelper(
            { u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
        ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
        auto sync = Sync::create();
        Outcome outcome;
        sync->updateStories(std::nullopt, outcome.completion());
        ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
        EXPECT_TRUE(outcome.success);
        EXPECT_FALSE(sync->storeRefused());
        holder->write("go\n");
        ASSERT_TRUE(StoreTest::finishedOk(*holder));
        ASSERT_TRUE(TestSupport::waitFor(
            [&] { return storedLinks() == QStringList { u"http://a/new"_s }; }));
    }

    server.reply(u"/a"_s, ok(feed({ { u"http://a/newer"_s, 200 } })));
    const auto loadedBefore = StoredStoriesData().lastLoaded();
    ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.ok());
    auto sync = Sync::create();
    Outcome outcome;
    sync->updateStories(std::nullopt, outcome.completion());
    ASSERT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(sync->storeRefused());
    EXPECT_EQ(storedLinks(), QStringList { u"http://a/new"_s });
    EXPECT_EQ(StoredStoriesData().lastLoaded(), loadedBefore);
}

// However a feed's bytes arrive (with their length, without it in pieces of a KiB, compressed,
// whose announced length is the compressed one, or a byte at a time) and whether it fits the
// first room made for it or spans many, the refresh stores the same stories.
TEST_F(SyncTest, FeedsReadTheSameWhateverTheirPiecesAndAnnouncedLength)
{
    const auto feedOf = [](const QString& name, int count, qsizetype padding) {
        QList<QPair<QString, std::optional<qint64>>> items;
        for (int i = 0; i < count; ++i)
            items.append({ u"http://%1/%2"_s.arg(name).arg(i), 1000 * (i + 1) + name.size() });
        QByteArray doc = feed(items);
        // Stories on both sides of the padding: the bytes after it arrive in later pieces.
        if (padding > 0)
            doc.insert(doc.indexOf("</item>") + 7, "<!--" + QByteArray(padding, 'x') + "-->");
        return doc;
    };
    const QList<QPair<QString, QByteArray>> feeds = {
        { u"/tiny"_s, feedOf(u"tiny"_s, 2, 0) },
        { u"/medium"_s, feedOf(u"medium"_s, 150, 0) },
        { u"/large"_s, feedOf(u"large"_s, 6, 3 * 1024 * 1024 + 123) },
    };
    for (const auto& [path, body] : feeds)
        addSource(server.url(path));

    const auto refresh = [&](const std::function<void(const QString&, ScriptedReply&)>& shape) {
        for (const auto& [path, body] : feeds) {
            ScriptedReply reply = ok(body);
            shape(path, reply);
            server.reply(path, reply);
        }
        (void)StoredStoriesData().storeStories({});
        auto sync = Sync::create();
        Outcome outcome;
        sync->updateStories(std::nullopt, outcome.completion());
        EXPECT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }, 60000));
        EXPECT_TRUE(outcome.success);
        expectIdle(*sync);
        return storedStoriesArchived();
    };

    const QList<QByteArray> sized = refresh([](const QString&, ScriptedReply&) {});
    EXPECT_EQ(sized.size(), 2 + 150 + 6);
    EXPECT_EQ(refresh([](const QString&, ScriptedReply& r) { r.chunked = true; }), sized);
    EXPECT_EQ(refresh([](const QString&, ScriptedReply& r) { r.gzip = true; }), sized);
    EXPECT_EQ(refresh([](const QString&, ScriptedReply& r) {
        r.gzip = true;
        r.chunked = true;
    }),
        sized);
    EXPECT_EQ(refresh([](const QString& path, ScriptedReply& r) {
        if (path == u"/tiny"_s)
            r.trickleMs = 1;
    }),
        sized);
}

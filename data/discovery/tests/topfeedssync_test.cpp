#include "data/discovery/TopFeedsSync.h"
#include "api/tests/ClientTestSupport.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "testsupport/SearchStandIn.h"
#include "data/model/HotStoriesData.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourceNames.h"
#include "data/model/TopFeedsData.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <future>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;
using TestSupport::ScriptedReply;

namespace {

ScriptedReply rss(const QByteArray& title, const QByteArray& site)
{
    return TestSupport::bodyReply(DiscoveryTest::rss(title, site));
}

// Holds a server thread until the test lets it go (bounded, so a failing test cannot hang).
struct Gate {
    std::promise<void> opened;
    std::shared_future<void> done = opened.get_future().share();
    void open() { opened.set_value(); }
    void pass() { done.wait_for(std::chrono::seconds(20)); }
};

// "title:hits[:no icon]" for every stored popular feed.
QStringList stored()
{
    QStringList out;
    for (const auto& feed : TopFeedsData().topFeeds())
        out.append(feed->source()->title() + u':' + QString::number(feed->hits())
            + (feed->source()->noIconFound ? u":no icon"_s : QString()));
    return out;
}

// What observers hear, in order, on the main thread: "updated [stored list]" and "icon <title>".
struct Announcements {
    QStringList seen;
    bool allOnMain = true;
    ObserverToken updates = NotificationCenter::defaultCenter().addObserver(
        TopFeedsSync::didUpdateNotification(), nullptr, [this](const Notification& n) {
            allOnMain = allOnMain && MainQueue::isCurrent() && n.object == nullptr
                && n.userInfo.isEmpty();
            seen.append(u"updated ["_s + stored().join(u", "_s) + u']');
        });
    ObserverToken icons = NotificationCenter::defaultCenter().addObserver(
        SourceIconData::iconUpdateNotification(), nullptr, [this](const Notification& n) {
            allOnMain = allOnMain && MainQueue::isCurrent();
            seen.append(u"icon "_s
                + n.userInfo.value(SourceIconData::sourceKey())
                      .value<std::shared_ptr<Source>>()
                      ->title());
        });

    qsizetype count(const QString& prefix) const
    {
        return std::count_if(
            seen.begin(), seen.end(), [&](const QString& s) { return s.startsWith(prefix); });
    }
};

class ServerSyncs : public ::testing::Test {
protected:
    void SetUp() override
    {
        SearchStandIn::installKey("Qzb3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A");
        search.answer([](const QString&) { return SearchStandIn::results({}); });
        ProductServers::setCurrent({ *Url::fromString(server.url(u"/app-static"_s)),
            *Url::fromString(server.url(u"/api/v1"_s)) });
        for (const auto& host : { u"one.test"_s, u"two.test"_s, u"nothing.test"_s, u"many.test"_s })
            UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
        server.reply(u"/one.rss"_s, rss("One", "http://one.test/"));
        server.reply(u"/two.rss"_s, rss("Two", "http://two.test/"));
        // one.test has a touch icon; two.test and nothing.test have no icon and no feed link.
        DiscoveryTest::serveSitePages(server, "one.test", Qt::blue);
    }
    void TearDown() override
    {
        ProductServers::setCurrent({});
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    void servePopular(const QByteArray& body)
    {
        server.reply(u"/app-static/popular.json"_s, APITest::jsonReply(body));
    }

    LoopbackServer server;
    SearchStandIn search { server };
};

std::shared_ptr<TopFeedSource> feed(const QString& title, qint64 hits)
{
    return std::make_shared<TopFeedSource>(
        hits, std::make_shared<Source>(title, u"http://old.test/"_s + title));
}

} // namespace

TEST_F(ServerSyncs, StoresTheDiscoveredFeedsInServerOrderAndAnnouncesThemBeforeAnyIcon)
{
    (void)TopFeedsData().setTopFeeds({ feed(u"Gone"_s, 99) });
    (void)SourceNames().setNames({ { u"http://two.test/two.rss"_s, u"Second"_s } });
    servePopular(R"([{"url": "http://one.test/one.rss", "hits": 30},
                     {"url": "http://nothing.test/", "hits": 20},
                     {"url": "http://two.test/two.rss", "hits": 10}])");
    // The first feed answers only after the last, so arrival order differs from server order.
    auto gate = std::make_shared<Gate>();
    server.replyWith(u"/one.rss"_s, [gate](const RecordedRequest&) {
        gate->pass();
        return rss("One", "http://one.test/");
    });
    server.replyWith(u"/two.rss"_s, [gate](const RecordedRequest&) {
        gate->open();
        return rss("Two", "http://two.test/");
    });

    Announcements heard;
    TopFeedsSync::update();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return heard.count(u"icon"_s) == 1 && stored().size() == 2
            && stored()[1].endsWith(u"no icon"_s);
    }));
    TestSupport::processEvents();

    // The list is replaced whole, and stored before observers hear of it; the server's name
    // table names the second feed.
    EXPECT_EQ(heard.seen, (QStringList { u"updated [One:30, Second:10]"_s, u"icon One"_s }));
    EXPECT_TRUE(heard.allOnMain);
    // The feed whose icon search found nothing was saved again, marked.
    EXPECT_EQ(stored(), (QStringList { u"One:30"_s, u"Second:10:no icon"_s }));
    EXPECT_EQ(SourceIconData::iconForSource(*TopFeedsData().topFeeds()[0]->source()).size(),
        QSize(96, 96));
    // The undiscoverable address went to the web search, which found nothing.
    EXPECT_EQ(search.searches().size(), 1);
}

TEST_F(ServerSyncs, AServerErrorChangesNoStoreAndPostsNothing)
{
    (void)TopFeedsData().setTopFeeds({ feed(u"Kept"_s, 7) });
    (void)SourceNames().setNames({ { u"http://a.test/"_s, u"A"_s } });
    (void)HotStoriesData().setHotStories(
        { std::make_shared<HotStory>(*Url::fromString(u"http://a.test/story"_s), 3) });
    server.reply(u"/app-static/popular.json"_s, APITest::jsonReply(R"({"error": "down"})", 500));
    server.reply(u"/app-static/names.json"_s, APITest::jsonReply("<html>", 502));
    server.reply(u"/api/v1/stories/hot"_s, TestSupport::redirectTo(u"http://127.0.0.1:1/closed"_s));

    Announcements heard;
    TopFeedsSync::update();
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return server.requestCount(u"/app-static/popular.json"_s) == 1; }));
    const auto names = SourceNamesSync::update();
    const auto hot = HotStoriesSync::reload();
    ASSERT_TRUE(TestSupport::waitFor([&] { return names.isResolved() && hot.isResolved(); }));
    TestSupport::processEvents();
    EXPECT_TRUE(names.value()->isError());
    EXPECT_TRUE(hot.value()->isError());

    EXPECT_EQ(stored(), QStringList { u"Kept:7"_s });
    EXPECT_EQ(SourceNames().names(), (SourceNames::NameTable { { u"http://a.test/"_s, u"A"_s } }));
    ASSERT_EQ(HotStoriesData().hotStories().size(), 1);
    EXPECT_EQ(HotStoriesData().hotStories()[0]->hits(), 3);
    EXPECT_TRUE(heard.seen.isEmpty());
    // Nothing was discovered either.
    EXPECT_EQ(server.requests().size(), 3);

    // The same observers do hear a run that succeeds, once, with an empty list stored whole.
    servePopular("[]");
    TopFeedsSync::update();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !heard.seen.isEmpty(); }));
    TestSupport::processEvents();
    EXPECT_EQ(heard.seen, QStringList { u"updated []"_s });
}

TEST_F(ServerSyncs, NamesAndHotStoriesAreReplacedWholeOnTheMainQueue)
{
    (void)SourceNames().setNames(
        { { u"http://a.test/"_s, u"A"_s }, { u"http://b.test/"_s, u"B"_s } });
    (void)HotStoriesData().setHotStories(
        { std::make_shared<HotStory>(*Url::fromString(u"http://old.test/"_s), 1) });
    server.reply(u"/app-static/names.json"_s,
        APITest::jsonReply(R"({"http://b.test/": "Bee", "http://c.test/": "C"})"));
    server.reply(u"/api/v1/stories/hot"_s,
        APITest::jsonReply(R"([{"canonical_url": "http://x.test/1", "hits": 5},
        {"canonical_url": "http://x.test/2"},
        {"canonical_url": "http://x.test/3", "hits": 2}])"));

    std::atomic<int> storedOnMain = 0;
    auto names = SourceNamesSync::update();
    auto hot = HotStoriesSync::reload();
    for (const auto& promise : { names, hot })
        promise.onValue(
            [&](const Result<Empty>& r) { storedOnMain += r.isOk() && MainQueue::isCurrent(); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return names.isResolved() && hot.isResolved(); }));
    EXPECT_EQ(storedOnMain, 2);

    EXPECT_EQ(SourceNames().names(),
        (SourceNames::NameTable {
            { u"http://b.test/"_s, u"Bee"_s }, { u"http://c.test/"_s, u"C"_s } }));
    QStringList hotStories;
    const HotStoriesData hotData;
    for (const auto& story : hotData.hotStories())
        hotStories.append(
            story->canonicalUrl().absoluteString() + u' ' + QString::number(story->hits()));
    EXPECT_EQ(hotStories, (QStringList { u"http://x.test/1 5"_s, u"http://x.test/3 2"_s }));
}

TEST_F(ServerSyncs, OverlappingUpdatesEachStoreAWholeListAndTheLaterStoringWins)
{
    // The first run lists both feeds, the second only the second; the first run's discovery
    // of the first feed is held until the second run has stored and announced its list.
    int served = 0;
    server.replyWith(u"/app-static/popular.json"_s, [&served](const RecordedRequest&) {
        return APITest::jsonReply(++served == 1
                ? R"([{"url": "http://one.test/one.rss", "hits": 1},
                                        {"url": "http://two.test/two.rss", "hits": 2}])"
                : R"([{"url": "http://two.test/two.rss", "hits": 20}])");
    });
    auto gate = std::make_shared<Gate>();
    server.replyWith(u"/one.rss"_s, [gate](const RecordedRequest&) {
        gate->pass();
        return rss("One", "http://one.test/");
    });

    Announcements heard;
    TopFeedsSync::update();
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requestCount(u"/one.rss"_s) == 1; }));
    TopFeedsSync::update();
    ASSERT_TRUE(TestSupport::waitFor([&] { return heard.count(u"updated"_s) == 1; }));
    gate->open();
    ASSERT_TRUE(TestSupport::waitFor([&] { return heard.count(u"updated"_s) == 2; }));

    EXPECT_EQ(heard.seen.filter(u"updated"_s),
        (QStringList { u"updated [Two:20]"_s, u"updated [One:1, Two:2]"_s }));
    // The icon outcomes of both runs only mark entries: the second run's failed search for the
    // second feed never brings its hit count back into the later list.
    const QStringList expected { u"One:1"_s, u"Two:2:no icon"_s };
    EXPECT_TRUE(
        TestSupport::waitFor([&] { return heard.count(u"icon"_s) == 1 && stored() == expected; }));
    EXPECT_EQ(stored(), expected);
}

TEST_F(ServerSyncs, ALongListIsDiscoveredWholeThroughTheSessionsBoundedConnections)
{
    // Every discovery starts at once, against one host: all but a few wait for a connection.
    QByteArray list = "[";
    QStringList expected;
    for (int i = 0; i < 120; ++i) {
        const QByteArray n = QByteArray::number(i);
        list += QByteArray(i ? "," : "") + R"({"url": "http://many.test/)" + n
            + R"(.rss", "hits": )" + n + "}";
        server.reply(u"/%1.rss"_s.arg(i), rss("Feed " + n, "http://two.test/"));
        expected.append(u"Feed %1:%1:no icon"_s.arg(i));
    }
    servePopular(list + "]");

    TopFeedsSync::update();
    // Also lets every icon search end before the server goes.
    EXPECT_TRUE(TestSupport::waitFor([&] { return stored() == expected; }, 60000));
}

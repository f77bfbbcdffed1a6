#include "data/discovery/IconFetcher.h"
#include "data/discovery/IconLoading.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourcesData.h"
#include "data/sync/FeedParser.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QScopeGuard>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using DiscoveryTest::ImageOutcome;
using DiscoveryTest::pageReply;
using DiscoveryTest::pngReply;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;
using TestSupport::ScriptedReply;

namespace {

std::shared_ptr<Source> source(const QString& link, const QString& title = u"A source"_s)
{
    return std::make_shared<Source>(title, link);
}

std::shared_ptr<Source> stored(const QString& link)
{
    for (const auto& s : SourcesData().sources()) {
        if (s->link() == link)
            return s;
    }
    return nullptr;
}

int threadsOfThisProcess()
{
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

class IconLoading : public ::testing::Test {
protected:
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    void mapHosts(const QStringList& hosts, const QString& scheme = u"http"_s)
    {
        for (const QString& host : hosts)
            UrlSessionTesting::mapToLoopback(
                scheme, host, scheme == u"http"_s ? 80 : 443, server.port());
    }

    int requestsFor(const QByteArray& host, const QByteArray& pathPrefix = "/") const
    {
        int n = 0;
        for (const RecordedRequest& request : server.requests())
            n += request.header("host") == host && request.path.startsWith(pathPrefix);
        return n;
    }

    // Runs loadImageForSource to its end; the size of the image, or an invalid size.
    QSize load(const std::shared_ptr<Source>& s)
    {
        ImageOutcome outcome;
        loadImageForSource(s, outcome.completion());
        EXPECT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; }));
        TestSupport::processEvents();
        EXPECT_EQ(outcome.calls, 1);
        return outcome.size();
    }

    LoopbackServer server;
};

} // namespace

TEST_F(IconLoading, FindBaseURLKeepsTheSchemeAndTheSitesDomain)
{
    const QList<QPair<QString, std::optional<QString>>> cases {
        { u"http://news.example.com/rss"_s, u"http://example.com"_s },
        { u"https://feeds.example.co.uk/news/rss.xml"_s, u"https://example.co.uk"_s },
        { u"http://news.example.com.au/feed"_s, u"http://com.au"_s },
        { u"http://feeds.my-site.com/rss"_s, u"http://site.com"_s },
        { u"http://example.com:8080/rss"_s, std::nullopt },
        { u"example.com/rss"_s, std::nullopt },
    };
    for (const auto& [link, expected] : cases) {
        const auto url = findBaseURL(link);
        EXPECT_EQ(url ? std::optional(url->absoluteString()) : std::nullopt, expected)
            << link.toStdString();
    }
}

TEST_F(IconLoading, PicksThePageThatStandsForTheSource)
{
    mapHosts({ u"www.youtube.com"_s, u"yt3.ggpht.test"_s }, u"https"_s);
    mapHosts({ u"planetvideos.test"_s, u"planet.test"_s });
    server.reply(u"/home/favicon.ico"_s, pngReply(Qt::red, 20));
    server.reply(u"/feeds/videos.xml"_s, pageReply("<title>feed</title>"));
    server.reply(u"/channel/UCplanet"_s,
        pageReply("<link itemprop=\"thumbnailUrl\" href=\"https://yt3.ggpht.test/t.jpg\">"));
    server.reply(u"/t.jpg"_s, pngReply(Qt::green, 30));
    const QString videoFeed = u"https://www.youtube.com/feeds/videos.xml?channel_id=UCplanet"_s;

    // The video site with a site link: the site link, on the desktop pass only.
    auto withSite = source(videoFeed);
    withSite->sourceLink = Url::fromString(u"http://planetvideos.test/home"_s);
    EXPECT_EQ(load(withSite), QSize(20, 20));
    ASSERT_EQ(requestsFor("planetvideos.test", "/home"), 2);
    EXPECT_FALSE(server.requests().first().header("user-agent").contains("iPhone"));
    EXPECT_EQ(requestsFor("www.youtube.com"), 0);

    // Without one: the feed address itself, so the channel rule can read its id.
    EXPECT_EQ(load(source(videoFeed)), QSize(30, 30));
    EXPECT_EQ(requestsFor("www.youtube.com", "/feeds/videos.xml?channel_id=UCplanet"), 1);

    // Not an http address and no site link: nothing, at once, without a request.
    const int before = int(server.requests().size());
    ImageOutcome none;
    loadImageForSource(source(u"planet.test/rss"_s), none.completion());
    EXPECT_EQ(none.calls, 1);
    EXPECT_EQ(none.size(), QSize());
    EXPECT_EQ(server.requests().size(), before);

    // An ordinary feed: its domain's page, then the image of the feed it came from, when the
    // source was just discovered; a stored source has no feed to fall back on.
    server.reply(u"/logo.png"_s, pngReply(Qt::blue, 40));
    auto discovered = source(u"http://feeds.planet.test/rss"_s);
    discovered->feedParser
        = std::make_shared<FeedParser>("<rss "
                                       "version=\"2.0\"><channel><title>Planet</"
                                       "title><image><url>http://planet.test/logo.png</url></image>"
                                       "</channel></rss>",
            nullptr);
    EXPECT_EQ(load(discovered), QSize(40, 40));
    EXPECT_EQ(requestsFor("planet.test", "/favicon.ico"), 2);
    EXPECT_EQ(load(source(u"http://feeds.planet.test/rss"_s)), QSize());
}

TEST_F(IconLoading, SweepSearchesOnlySourcesWithoutIconOrMarkAndStoresEachOutcome)
{
    mapHosts(
        { u"alpha.test"_s, u"beta.test"_s, u"gamma.test"_s, u"delta.test"_s, u"epsilon.test"_s });
    server.replyWith(u"/favicon.ico"_s, [](const RecordedRequest& request) {
        return request.header("host") == "delta.test" ? pngReply(Qt::red, 64)
                                                      : pageReply("not found");
    });
    SourcesData sources;
    for (const char* name : { "alpha", "beta", "gamma", "delta" })
        (void)sources.addSource(
            source(u"http://feeds.%1.test/rss"_s.arg(QLatin1String(name)), QLatin1String(name)));
    SourceIconData::setIconForSourceLink(
        u"http://feeds.alpha.test/rss"_s, QImage(96, 96, QImage::Format_ARGB32));
    auto beta = stored(u"http://feeds.beta.test/rss"_s);
    beta->noIconFound = true;
    (void)sources.updateSource(beta);

    std::atomic<int> iconNotifications = 0;
    ObserverToken token
        = NotificationCenter::defaultCenter().addObserver(SourceIconData::iconUpdateNotification(),
            nullptr, [&](const Notification&) { ++iconNotifications; });

    findMissingIcons();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        auto gamma = stored(u"http://feeds.gamma.test/rss"_s);
        return gamma && gamma->noIconFound && iconNotifications == 1;
    }));
    EXPECT_EQ(SourceIconData::iconForLink(u"http://feeds.delta.test/rss"_s).size(), QSize(96, 96));
    EXPECT_FALSE(stored(u"http://feeds.delta.test/rss"_s)->noIconFound);
    EXPECT_EQ(requestsFor("alpha.test") + requestsFor("beta.test"), 0);
    // Phone and desktop pass, each with its favicon.
    EXPECT_EQ(requestsFor("gamma.test"), 4);

    // A second sweep finds nothing left to search but a source added since, listed last, whose
    // search ends after any other would have started.
    const int before = int(server.requests().size());
    (void)sources.addSource(source(u"http://feeds.epsilon.test/rss"_s, u"epsilon"_s));
    findMissingIcons();
    ASSERT_TRUE(TestSupport::waitFor([&] {
        auto epsilon = stored(u"http://feeds.epsilon.test/rss"_s);
        return epsilon && epsilon->noIconFound;
    }));
    EXPECT_EQ(requestsFor("epsilon.test"), 4);
    EXPECT_EQ(server.requests().size(), before + 4);
    EXPECT_EQ(SourcesData().sources().size(), 5);
}

TEST_F(IconLoading, ALargeSweepAgainstOneSlowHostStaysBoundedAndKeepsConcurrentChanges)
{
    constexpr int count = 300;
    mapHosts({ u"slow.test"_s });
    std::atomic<int> active = 0;
    std::atomic<int> mostActive = 0;
    auto slow = [&](const RecordedRequest&) {
        const int now = ++active;
        for (int seen = mostActive; now > seen && !mostActive.compare_exchange_weak(seen, now);) { }
        ScriptedReply reply = pageReply("<title>Slow</title>");
        reply.delayMs = 2;
        --active;
        return reply;
    };
    server.replyWith(u"/"_s, slow);
    server.replyWith(u"/favicon.ico"_s, slow);

    SourcesData sources;
    for (int i = 0; i < count; ++i)
        (void)sources.addSource(
            source(u"http://feeds.slow.test/rss/%1"_s.arg(i), u"Slow %1"_s.arg(i)));
    const int threadsBefore = threadsOfThisProcess();
    int mostThreads = threadsBefore;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
        [&] { mostThreads = std::max(mostThreads, threadsOfThisProcess()); });
    sampler.start(5);

    std::atomic<int> updates = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [&](const Notification& n) {
            updates += int(
                n.userInfo.value(SourcesData::updatedSourcesKey()).value<QList<int>>().size());
        });
    findMissingIcons();
    mostThreads = std::max(mostThreads, threadsOfThisProcess());
    // Made while the searches run: neither change may be undone by their outcomes.
    const auto removed = stored(u"http://feeds.slow.test/rss/7"_s);
    (void)sources.removeSource(*removed);
    (void)sources.addSource(source(u"http://fresh.example.test/rss"_s, u"Fresh"_s));

    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            mostThreads = std::max(mostThreads, threadsOfThisProcess());
            return updates == count - 1;
        },
        60000));
    TestSupport::processEvents();
    const auto list = SourcesData().sources();
    EXPECT_EQ(list.size(), count);
    EXPECT_EQ(std::count_if(list.begin(), list.end(), [](const auto& s) { return s->noIconFound; }),
        count - 1);
    EXPECT_EQ(stored(removed->link()), nullptr);
    ASSERT_NE(stored(u"http://fresh.example.test/rss"_s), nullptr);
    EXPECT_FALSE(stored(u"http://fresh.example.test/rss"_s)->noIconFound);
    EXPECT_EQ(server.requests().size(), count * 4);
    // The session layer's cap per host, and a thread count far from one per search.
    EXPECT_LE(mostActive, 6);
    EXPECT_LT(mostThreads - threadsBefore, 48);
}

TEST_F(IconLoading, FeedMetadataArrivesOnceOnTheMainQueue)
{
    server.reply(u"/rss"_s,
        TestSupport::bodyReply("<rss "
                               "version=\"2.0\"><channel><title>Planet</title><image><url>http://"
                               "planet.test/logo.png</url></image>"
                               "</channel></rss>"));
    server.reply(u"/broken"_s, DiscoveryTest::brokenReply());
    for (const QString& path : { u"/rss"_s, u"/broken"_s }) {
        int calls = 0;
        bool onMain = false;
        std::optional<QString> title;
        std::optional<Url> image;
        getFeedMetadata(*Url::fromString(server.url(path)),
            [&](std::optional<QString> t, std::optional<Url> i) {
                ++calls;
                onMain = MainQueue::isCurrent();
                title = t;
                image = i;
            });
        ASSERT_TRUE(TestSupport::waitFor([&] { return calls > 0; }));
        TestSupport::processEvents();
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(onMain);
        EXPECT_EQ(title, path == u"/rss"_s ? std::optional(u"Planet"_s) : std::nullopt);
        EXPECT_EQ(image ? image->absoluteString() : QString(),
            path == u"/rss"_s ? u"http://planet.test/logo.png"_s : QString());
    }
}

TEST_F(IconLoading, FailedSearchesOfASweepAreStoredInOneWriteThatKeepsChangesMadeMeanwhile)
{
    constexpr int count = 40;
    // Stopped, so only the end of the last search can store the marks.
    VirtualClock clock;
    MainQueue::setClock(&clock);
    const auto restore = qScopeGuard([] { MainQueue::setClock(nullptr); });
    mapHosts({ u"plain.test"_s });
    SourcesData sources;
    for (int i = 0; i < count; ++i)
        (void)sources.addSource(
            source(u"http://feeds.plain.test/rss/%1"_s.arg(i), u"Plain %1"_s.arg(i)));
    TestSupport::processEvents();
    QList<QList<int>> updates;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [&](const Notification& n) {
            if (n.userInfo.contains(SourcesData::updatedSourcesKey()))
                updates << n.userInfo.value(SourcesData::updatedSourcesKey()).value<QList<int>>();
        });

    findMissingIcons();
    // Made while the searches run: their outcomes may neither bring back nor rename.
    const QString removedLink = u"http://feeds.plain.test/rss/3"_s;
    const QString renamedLink = u"http://feeds.plain.test/rss/5"_s;
    (void)sources.removeSource(*stored(removedLink));
    (void)sources.updateSource(source(renamedLink, u"Renamed"_s));

    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            const auto list = SourcesData().sources();
            return std::all_of(
                list.begin(), list.end(), [](const auto& s) { return s->noIconFound; });
        },
        60000));
    TestSupport::processEvents();
    const auto list = SourcesData().sources();
    EXPECT_EQ(list.size(), count - 1);
    EXPECT_EQ(stored(removedLink), nullptr);
    ASSERT_NE(stored(renamedLink), nullptr);
    EXPECT_EQ(stored(renamedLink)->title(), u"Renamed"_s);
    // The rename's own write, then one for every outcome.
    ASSERT_EQ(updates.size(), 2);
    EXPECT_EQ(updates.first(), (QList<int> { 4 }));
    QList<int> everyPosition;
    for (int i = 0; i < count - 1; ++i)
        everyPosition << i;
    EXPECT_EQ(updates.last(), everyPosition);
    EXPECT_EQ(requestsFor("plain.test"), count * 4);
}

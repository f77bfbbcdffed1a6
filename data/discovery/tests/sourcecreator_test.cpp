#include "data/discovery/SourceCreator.h"
#include "testsupport/SearchStandIn.h"
#include "data/model/SourceNames.h"
#include "data/sync/FeedParser.h"
#include "platform/foundation/network/UrlSession.h"
#include "testsupport/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

ScriptedReply page(const QByteArray& head)
{
    ScriptedReply reply
        = TestSupport::bodyReply("<!DOCTYPE html>\n<html><head><title>A site</title>" + head
            + "</head><body><a href=\"/about\">About us</a></body></html>");
    reply.headers = { { "Content-Type", "text/html; charset=utf-8" } };
    return reply;
}

QByteArray rss(const QByteArray& title, const QByteArray& site)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title + "</title><link>"
        + site + "</link><item><title>First</title><link>" + site
        + "first</link></item></channel></rss>";
}

// One discovery and what it reported.
struct Discovery {
    std::shared_ptr<SourceCreator> creator;
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::shared_ptr<Source>> source = std::make_shared<std::shared_ptr<Source>>();

    QStringList linksTried() const
    {
        QStringList out;
        for (const Url& url : creator->linksTried())
            out.append(url.absoluteString());
        return out;
    }
};

class FeedDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        SearchStandIn::installKey("Qzb3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A");
        search.answer([](const QString&) { return SearchStandIn::results({}); });
    }
    void TearDown() override
    {
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    void host(const QString& name)
    {
        UrlSessionTesting::mapToLoopback(u"http"_s, name, 80, server.port());
    }

    // Starts a discovery of `text` and waits until it has reported and nothing holds the creator
    // but the test.
    Discovery discover(const QString& text, std::shared_ptr<UrlSession> session = nullptr)
    {
        Discovery run;
        run.creator = std::make_shared<SourceCreator>(session ? session : UrlSession::create(),
            text, [calls = run.calls, box = run.source](std::shared_ptr<Source> source) {
                *box = std::move(source);
                ++*calls;
            });
        run.creator->createSource();
        EXPECT_TRUE(
            TestSupport::waitFor([&] { return *run.calls > 0 && run.creator.use_count() == 1; }));
        TestSupport::processEvents();
        EXPECT_EQ(*run.calls, 1);
        EXPECT_TRUE(run.creator->didComplete());
        EXPECT_EQ(run.creator->currentAttempts(), 0);
        return run;
    }

    LoopbackServer server;
    SearchStandIn search { server };
};

} // namespace

TEST_F(FeedDiscovery, SearchesForASingleWordAndFollowsTheFirstResultToItsFeed)
{
    host(u"tech.example.test"_s);
    search.answer([](const QString& words) {
        return words == u"technology"_s ? SearchStandIn::results(
                   { u"http://tech.example.test/"_s, u"http://other.example.test/"_s })
                                        : SearchStandIn::results({});
    });
    server.reply(
        u"/"_s, page(R"(<link rel="alternate" type="application/rss+xml" href="/feed.xml">)"));
    server.reply(
        u"/feed.xml"_s, TestSupport::bodyReply(rss("Tech Daily", "http://tech.example.test/")));

    const Discovery run = discover(u"technology"_s);
    ASSERT_TRUE(*run.source);
    const Source& source = **run.source;
    EXPECT_EQ(source.title(), u"Tech Daily"_s);
    EXPECT_EQ(source.link(), u"http://tech.example.test/feed.xml"_s);
    ASSERT_TRUE(source.sourceLink);
    EXPECT_EQ(source.sourceLink->absoluteString(), u"http://tech.example.test/"_s);
    ASSERT_TRUE(source.feedParser);
    EXPECT_EQ(search.searches(), QStringList { u"technology"_s });
    EXPECT_EQ(run.linksTried(),
        (QStringList { u"http://tech.example.test/"_s, u"http://tech.example.test/feed.xml"_s }));
    EXPECT_EQ(run.creator->link(), u"http://tech.example.test/"_s);
    EXPECT_EQ(run.creator->bingAttempts(), 1);
}

TEST_F(FeedDiscovery, LoadsASiteNameOverHttpAndNamesItFromTheTableFirst)
{
    host(u"example.com"_s);
    server.reply(u"/"_s, TestSupport::bodyReply(rss("Example Feed", "http://example.com/")));

    Discovery run = discover(u"example.com"_s);
    ASSERT_TRUE(*run.source);
    EXPECT_EQ((*run.source)->title(), u"Example Feed"_s);
    EXPECT_EQ((*run.source)->link(), u"http://example.com"_s);
    EXPECT_EQ(run.linksTried(), QStringList { u"http://example.com"_s });

    (void)SourceNames().setNames({ { u"http://example.com"_s, u"Example News"_s },
        { u"http://example.com/"_s, u"Wrong"_s } });
    run = discover(u"example.com"_s);
    ASSERT_TRUE(*run.source);
    EXPECT_EQ((*run.source)->title(), u"Example News"_s);
    EXPECT_TRUE(search.searches().isEmpty());
}

TEST_F(FeedDiscovery, SearchesForDottedTextWithASpaceAsTyped)
{
    const Discovery run = discover(u"tech news.com today"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(search.searches(), QStringList { u"tech news.com today"_s });
    EXPECT_EQ(server.requests().size(), 1); // the search only
    EXPECT_TRUE(run.linksTried().isEmpty());
}

TEST_F(FeedDiscovery, SearchesForTheFeedOfAPageThatOnlyNamesItself)
{
    host(u"self.example.test"_s);
    server.reply(u"/news"_s,
        page(R"(<link type="application/rss+xml" href="http://self.example.test/News/">)"));
    search.answer(
        [](const QString&) { return QByteArray(R"({"d":{"results":[{"Title":"no address"}]}})"); });

    const Discovery run = discover(u"self.example.test/news"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(search.searches(), QStringList { u"self.example.test/news rss feed"_s });
    EXPECT_EQ(run.linksTried(), QStringList { u"http://self.example.test/news"_s });
}

TEST_F(FeedDiscovery, GivesUpAtTheSixthDistinctAddress)
{
    host(u"chain.example.test"_s);
    for (int i = 1; i <= 6; ++i) {
        server.reply(u"/p%1"_s.arg(i),
            page(R"(<link type="application/atom+xml" href="http://chain.example.test/p)"
                + QByteArray::number(i + 1) + "\">"));
    }
    const Discovery run = discover(u"chain.example.test/p1"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(run.linksTried().size(), SourceCreatorMaxTryCount);
    EXPECT_EQ(server.requestCount(u"/p5"_s), 1);
    EXPECT_EQ(server.requestCount(u"/p6"_s), 0);
    EXPECT_TRUE(search.searches().isEmpty());
}

TEST_F(FeedDiscovery, EndsWithNothingWhenASearchGivesAnAddressAlreadyLoaded)
{
    host(u"site.example.test"_s);
    server.reply(u"/"_s, page("<meta name=\"description\" content=\"nothing to subscribe to\">"));
    search.answer(
        [](const QString&) { return SearchStandIn::results({ u"http://site.example.test/"_s }); });

    const Discovery run = discover(u"tickerly"_s);
    EXPECT_FALSE(*run.source);
    // The second search asks for the first result's feed.
    EXPECT_EQ(search.searches(),
        (QStringList { u"tickerly"_s, u"http://site.example.test/ rss feed"_s }));
    EXPECT_EQ(server.requestCount(u"/"_s), 1);
}

TEST_F(FeedDiscovery, CountsATrailingSlashVariantAsANewAddressAndSearchesTwiceAtMost)
{
    host(u"site.example.test"_s);
    server.reply(u"/"_s, page({}));
    search.answer([](const QString& words) {
        return SearchStandIn::results({ words == u"tickerly"_s ? u"http://site.example.test/"_s
                                                               : u"http://site.example.test"_s });
    });

    const Discovery run = discover(u"tickerly"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(run.linksTried(),
        (QStringList { u"http://site.example.test/"_s, u"http://site.example.test"_s }));
    EXPECT_EQ(search.searches().size(), 2);
    EXPECT_EQ(run.creator->bingAttempts(), 3);
}

TEST_F(FeedDiscovery, LoadsOnlyWebAddresses)
{
    // A real feed on disk behind a search result, and behind a page's declared feed.
    QTemporaryDir dir;
    QFile file(dir.filePath(u"feed.xml"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(rss("Local", "http://local.example.test/"));
    file.close();
    const QString fileUrl = u"file://"_s + file.fileName();
    search.answer([fileUrl](const QString&) { return SearchStandIn::results({ fileUrl }); });

    Discovery run = discover(u"local"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(run.linksTried(), QStringList { fileUrl });
    EXPECT_EQ(search.searches(), (QStringList { u"local"_s, fileUrl }));

    host(u"page.example.test"_s);
    server.reply(
        u"/"_s, page("<link type=\"application/rss+xml\" href=\"" + fileUrl.toUtf8() + "\">"));
    search.answer([](const QString&) { return SearchStandIn::results({}); });
    run = discover(u"page.example.test/"_s);
    EXPECT_FALSE(*run.source);
}

TEST_F(FeedDiscovery, ASilentServerEndsWithTheSessionsTimeOut)
{
    EXPECT_EQ(
        SourceCreator(nullptr, u"x"_s, {}).session()->configuration().timeoutIntervalForRequest,
        60);
    EXPECT_FALSE(Bing().urlRequestForUrl(*Url::fromString(u"https://x/"_s)).timeoutInterval);

    host(u"slow.example.test"_s);
    ScriptedReply slow = TestSupport::bodyReply(rss("Too late", "http://slow.example.test/"));
    slow.delayMs = 1500;
    server.reply(u"/"_s, slow);
    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 0.2;
    const Discovery run = discover(u"slow.example.test"_s, UrlSession::create(configuration));
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(search.searches(), QStringList { u"slow.example.test"_s });
}

TEST_F(FeedDiscovery, CompletesExactlyOnceWhenTheCallerKeepsNothing)
{
    host(u"example.com"_s);
    server.reply(u"/"_s, TestSupport::bodyReply(rss("Example Feed", "http://example.com/")));

    std::atomic<int> calls = 0;
    std::weak_ptr<SourceCreator> weak;
    {
        auto creator = std::make_shared<SourceCreator>(
            nullptr, u"example.com"_s, [&calls](std::shared_ptr<Source> source) {
                EXPECT_TRUE(source);
                ++calls;
            });
        weak = creator;
        creator->createSource();
    }
    EXPECT_TRUE(TestSupport::waitFor([&] { return calls > 0 && weak.expired(); }));
    TestSupport::processEvents();
    EXPECT_EQ(calls, 1);

    // Also through a search and its hop to the main queue, and through the promise form.
    search.answer(
        [](const QString&) { return SearchStandIn::results({ u"http://example.com"_s }); });
    std::atomic<int> searched = 0;
    SourceCreator::createSource(u"example"_s, nullptr, [&searched](std::shared_ptr<Source> source) {
        EXPECT_TRUE(source);
        ++searched;
    });
    const auto promise = SourceCreator::createSource(nullptr)(u"nothing here"_s);
    EXPECT_TRUE(TestSupport::waitFor([&] { return searched > 0 && promise.isResolved(); }));
    TestSupport::processEvents();
    EXPECT_EQ(searched, 1);
    ASSERT_TRUE(promise.value());
    ASSERT_TRUE(*promise.value());
    EXPECT_EQ((**promise.value())->link(), u"http://example.com"_s);
}

TEST_F(FeedDiscovery, ATypedSiteGetsTheFeedItsPageDeclaresAtTheAddressABrowserWouldLoad)
{
    host(u"myblog.example"_s);
    server.reply(
        u"/"_s, page(R"(<link rel="alternate" type="application/rss+xml" href="/blog/rss">)"));
    server.reply(u"/blog/rss"_s, TestSupport::bodyReply(rss("My Blog", "http://myblog.example/")));

    const Discovery run = discover(u"myblog.example"_s);
    ASSERT_TRUE(*run.source);
    EXPECT_EQ((*run.source)->link(), u"http://myblog.example/blog/rss"_s);
    EXPECT_EQ(run.linksTried(),
        (QStringList { u"http://myblog.example"_s, u"http://myblog.example/blog/rss"_s }));
}

TEST_F(FeedDiscovery, ReadsAFeedPastTheCapOfPagesButNoSuchPage)
{
    host(u"big.example.test"_s);
    const QByteArray filler = "<!--" + QByteArray(UrlRequest::pageBodyLimit, 'x') + "-->";
    server.reply(u"/page"_s,
        page(R"(<link rel="alternate" type="application/rss+xml" href="/feed">)" + filler));
    QByteArray feed = rss("Big", "http://big.example.test/");
    feed.insert(
        feed.indexOf("</channel>"), "<!--" + QByteArray(UrlRequest::pageBodyLimit, 'x') + "-->");
    server.reply(u"/feed"_s, TestSupport::bodyReply(feed));

    Discovery run = discover(u"http://big.example.test/feed"_s);
    ASSERT_TRUE(*run.source);
    EXPECT_EQ((*run.source)->title(), u"Big"_s);

    // A page that large is not searched for feed links: as if it had not loaded.
    run = discover(u"http://big.example.test/page"_s);
    EXPECT_FALSE(*run.source);
    EXPECT_EQ(run.linksTried(), QStringList { u"http://big.example.test/page"_s });
    EXPECT_EQ(search.searches(), QStringList { u"http://big.example.test/page"_s });
}

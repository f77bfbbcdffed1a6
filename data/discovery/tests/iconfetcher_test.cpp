#include "data/discovery/IconFetcher.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

QByteArray fixture(const QString& name)
{
    return TestSupport::readFile(
        TestSupport::sourcePath(u"data/discovery/tests/data/icons/"_s + name));
}

ScriptedReply html(const QByteArray& body)
{
    ScriptedReply reply;
    reply.body = body;
    reply.headers = { { "Content-Type", "text/html; charset=utf-8" } };
    return reply;
}

bool isMobile(const RecordedRequest& request)
{
    return request.header("user-agent").contains("iPhone");
}

class IconSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const auto& host :
            { u"www.dailyplanet.test"_s, u"cdn.dailyplanet.test"_s, u"itunes.apple.com"_s })
            UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
        for (const auto& host : { u"www.youtube.com"_s, u"yt3.ggpht.test"_s })
            UrlSessionTesting::mapToLoopback(u"https"_s, host, 443, server.port());
    }
    void TearDown() override
    {
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    // Runs one search to its end and checks it answered once, off the main thread.
    QSize search(const QString& page, SiteVersion startWith = SiteVersion::Mobile,
        std::shared_ptr<UrlSession> session = nullptr)
    {
        ImageOutcome outcome;
        IconFetcher::fetchIcon(
            *Url::fromString(page), startWith, std::move(session), outcome.completion());
        EXPECT_TRUE(TestSupport::waitFor([&] { return outcome.calls > 0; })) << page.toStdString();
        TestSupport::processEvents();
        EXPECT_EQ(outcome.calls, 1) << page.toStdString();
        EXPECT_FALSE(outcome.onMainThread);
        return outcome.size();
    }

    // Requests for `path`; a path without a query counts requests with any query too.
    int requests(const QString& path, std::function<bool(const RecordedRequest&)> test = {}) const
    {
        const QByteArray p = path.toUtf8();
        int n = 0;
        for (const RecordedRequest& request : server.requests())
            n += (request.path == p || (!p.contains('?') && request.path.startsWith(p + '?')))
                && (!test || test(request));
        return n;
    }

    LoopbackServer server;
};

} // namespace

TEST_F(IconSearch, RulesOnRealHomePagesPickTheFirstIconInRuleOrder)
{
    // Touch icon before the shortcut icon, even though the page names the shortcut icon first.
    server.reply(u"/"_s, html(fixture(u"planet-home.html"_s)));
    server.reply(u"/apple-touch-icon.png"_s, pngReply(Qt::red, 180));
    server.reply(u"/favicon-32x32.png"_s, pngReply(Qt::blue, 32));
    EXPECT_EQ(search(u"http://www.dailyplanet.test"_s), QSize(180, 180));
    EXPECT_EQ(requests(u"/favicon-32x32.png"_s), 0);
    EXPECT_EQ(requests(u"/favicon.ico"_s), 0);

    // A relation in single quotes is no shortcut icon; "Shortcut Icon" in double quotes is, and
    // its protocol-relative link gets plain http from a tag without "https".
    server.reply(u"/gadgets/"_s, html(fixture(u"magazine-home.html"_s).replace("APP_ID", "0")));
    server.reply(u"/gw/shortcut.ico"_s, pngReply(Qt::green, 16));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/gadgets/"_s), QSize(16, 16));
    EXPECT_EQ(requests(u"/gadgets//wp-content/uploads/single-quoted.png"_s), 0);
    // An app id of 0 makes no lookup.
    EXPECT_EQ(requests(u"/lookup"_s), 0);

    // A page under /news/ tries the favicon inside its own path, never the site root's.
    server.reply(u"/news/"_s, pageReply("<link rel='shortcut icon' href='/root.png'>"));
    server.reply(u"/news/favicon.ico"_s, pngReply(Qt::yellow, 48));
    server.reply(u"/favicon.ico"_s, pngReply(Qt::black, 64));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/news/"_s), QSize(48, 48));
    EXPECT_EQ(requests(u"/favicon.ico"_s), 0);
    // Found on the phone pass: the desktop page was never asked for.
    EXPECT_EQ(requests(u"/news/"_s), 1);
    EXPECT_EQ(requests(u"/news/"_s, isMobile), 1);
}

// A small file can hold a picture far larger than any icon: one that can be read at a smaller
// size is read at about the size an icon is stored at, never whole; one that would be read
// whole is no icon, and the next rule is tried. An ordinary icon is read as it is.
TEST_F(IconSearch, AnIconFarLargerThanAnyIconIsReadNearTheStoredSizeOrNotAtAll)
{
    auto banner = [](QImage::Format format) {
        QImage image(8192, 1024, format);
        image.fill(90);
        ScriptedReply reply;
        QBuffer buffer(&reply.body);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        reply.headers = { { "Content-Type", "image/png" } };
        return reply;
    };
    server.reply(u"/"_s, html(fixture(u"planet-home.html"_s)));
    server.reply(u"/favicon-32x32.png"_s, pngReply(Qt::blue, 32));
    server.reply(u"/apple-touch-icon.png"_s, banner(QImage::Format_RGB32));
    // Still covers the stored icon's 96 points square at twice that.
    EXPECT_EQ(search(u"http://www.dailyplanet.test"_s), QSize(1536, 192));

    server.reply(u"/apple-touch-icon.png"_s, banner(QImage::Format_Grayscale8));
    EXPECT_EQ(search(u"http://www.dailyplanet.test"_s), QSize(1536, 192));

    ScriptedReply gif = bodyReply(TestSupport::gifOfCanvas(QSize(8192, 1024)));
    gif.headers = { { "Content-Type", "image/gif" } };
    server.reply(u"/apple-touch-icon.png"_s, gif);
    EXPECT_EQ(search(u"http://www.dailyplanet.test"_s), QSize(32, 32));

    server.reply(u"/apple-touch-icon.png"_s, pngReply(Qt::red, 1024, 1000));
    EXPECT_EQ(search(u"http://www.dailyplanet.test"_s), QSize(1024, 1000));
}

// A home page whose address ends in a slash names its icon by a root path: it is asked for with
// one slash, as a browser would, from a server that does not merge them.
TEST_F(IconSearch, ARootPathOfAHomePageIsAskedForWithOneSlash)
{
    server.reply(u"/"_s, pageReply("<link rel=\"apple-touch-icon\" href=\"/touch.png\">"));
    server.reply(u"/touch.png"_s, pngReply(Qt::red, 120));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/"_s), QSize(120, 120));
    EXPECT_EQ(requests(u"/touch.png"_s), 1);
    EXPECT_EQ(requests(u"//touch.png"_s), 0);
}

TEST_F(IconSearch, AppArtworkNeedsAPositiveIdThatFits)
{
    server.reply(u"/favicon.ico"_s, pngReply(Qt::black, 64));
    server.replyWith(u"/lookup"_s, [this](const RecordedRequest& request) {
        if (request.path != "/lookup?id=284882215")
            return html("{\"resultCount\":0,\"results\":[]}");
        nlohmann::json answer = {
            { "resultCount", 1 },
            { "results",
                { { { "trackName", "Gadget Weekly" },
                    { "artworkUrl512", "http://cdn.dailyplanet.test/artwork/512x512bb.png" } } } }
        };
        return html(QByteArray::fromStdString(answer.dump()));
    });
    server.reply(u"/artwork/512x512bb.png"_s, pngReply(Qt::magenta, 512));
    server.reply(u"/gw/shortcut.ico"_s, pngReply(Qt::green, 16));

    const QList<QByteArray> noIds { "0", "", "99999999999999999999", "18446744073709551616" };
    for (const QByteArray& id : noIds) {
        server.reply(u"/app"_s, html(fixture(u"magazine-home.html"_s).replace("APP_ID", id)));
        EXPECT_EQ(search(u"http://www.dailyplanet.test/app"_s), QSize(16, 16)) << id.toStdString();
    }
    EXPECT_EQ(requests(u"/lookup"_s), 0);

    server.reply(u"/app"_s, html(fixture(u"magazine-home.html"_s).replace("APP_ID", "284882215")));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/app"_s), QSize(512, 512));
    // The lookup goes over plain http, as a phone.
    EXPECT_EQ(requests(u"/lookup?id=284882215"_s, isMobile), 1);

    // An answer without usable artwork leaves the next rules to find the icon.
    server.reply(u"/other-app"_s,
        pageReply("<meta name='apple-itunes-app' content='app-id=7'>"
                  "<link rel=\"icon\" href=\"//cdn.dailyplanet.test/gw/shortcut.ico\">"));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/other-app"_s), QSize(16, 16));
    EXPECT_EQ(requests(u"/lookup?id=7"_s), 1);
}

TEST_F(IconSearch, AChannelAddressGivesTheChannelsThumbnail)
{
    // The feed itself has no icon links at all.
    server.reply(u"/feeds/videos.xml"_s,
        html("<?xml version=\"1.0\"?><feed><title>Planet Videos</title></feed>"));
    // The id is everything after the key, other query items included.
    server.reply(u"/channel/UCplanet&hl=en"_s, html(fixture(u"channel-page.html"_s)));
    server.reply(u"/planet=s900-c-k"_s, pngReply(Qt::red, 88));
    EXPECT_EQ(search(u"https://www.youtube.com/feeds/videos.xml?channel_id=UCplanet&hl=en"_s,
                  SiteVersion::Desktop),
        QSize(88, 88));
    EXPECT_EQ(requests(u"/channel/UCplanet&hl=en"_s, isMobile), 0);
    // Skipping the phone pass loads the page once, without the phone's user agent.
    EXPECT_EQ(requests(u"/feeds/videos.xml?channel_id=UCplanet&hl=en"_s), 1);
    EXPECT_EQ(requests(u"/feeds/videos.xml?channel_id=UCplanet&hl=en"_s, isMobile), 0);

    EXPECT_EQ(YoutubeMethod::channelId(*Url::fromString(u"http://x.test/a?b=1"_s)), std::nullopt);
}

TEST_F(IconSearch, PagePassesEndWithNothingWhereThePartSays)
{
    // A phone page that does not load ends the search; the desktop page is never tried.
    server.reply(u"/down"_s, DiscoveryTest::brokenReply());
    EXPECT_EQ(search(u"http://www.dailyplanet.test/down"_s), QSize());
    EXPECT_EQ(requests(u"/down"_s), 1);

    // Nothing on either page: one phone pass and one desktop pass, and an error page's body
    // counts as a page.
    server.replyWith(u"/bare/"_s, [](const RecordedRequest& request) {
        ScriptedReply reply
            = pageReply(isMobile(request) ? "<title>m</title>" : "<title>desktop</title>");
        reply.status = 500;
        return reply;
    });
    EXPECT_EQ(search(u"http://www.dailyplanet.test/bare/"_s), QSize());
    EXPECT_EQ(requests(u"/bare/"_s), 2);
    EXPECT_EQ(requests(u"/bare/"_s, isMobile), 1);
    EXPECT_EQ(requests(u"/bare/favicon.ico"_s), 2);

    // The desktop page gets its own chance.
    server.replyWith(u"/desk/"_s, [](const RecordedRequest& request) {
        return pageReply(
            isMobile(request) ? "" : "<link rel=\"icon\" href=\"//cdn.dailyplanet.test/d.png\">");
    });
    server.reply(u"/d.png"_s, pngReply(Qt::cyan, 24));
    EXPECT_EQ(search(u"http://www.dailyplanet.test/desk/"_s), QSize(24, 24));

    // A page that never answers ends with the session's time-out.
    ScriptedReply silent = pageReply("");
    silent.delayMs = 1500;
    server.reply(u"/silent"_s, silent);
    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 0.3;
    EXPECT_EQ(search(u"http://www.dailyplanet.test/silent"_s, SiteVersion::Mobile,
                  UrlSession::create(configuration)),
        QSize());
}

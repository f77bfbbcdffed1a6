#include "data/sync/MobileUserAgent.h"
#include "data/sync/UrlLoadingDecoders_p.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::bodyReply;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

QByteArray pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Holds what a completion received, and where it ran.
template <typename T> struct Received {
    std::mutex mutex;
    int calls = 0;
    std::optional<T> value;
    bool onDelegateQueue = false;

    std::function<void(std::optional<T>)> completion(UrlSession& session)
    {
        OperationQueue* queue = &session.delegateQueue();
        return [this, queue](std::optional<T> v) {
            std::lock_guard lock(mutex);
            ++calls;
            value = std::move(v);
            onDelegateQueue = OperationQueue::current() == queue;
        };
    }
    bool arrived()
    {
        std::lock_guard lock(mutex);
        return calls > 0;
    }
};

QImage filled(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    return image;
}

Url urlOf(const QString& text) { return *Url::fromString(text); }

class UrlSessionExtensionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        UrlSessionTesting::mapToLoopback(u"http"_s, u"news.example.test"_s, 80, server.port());
        session = UrlSession::create();
    }
    void TearDown() override
    {
        session->invalidateAndCancel();
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    LoopbackServer server;
    std::shared_ptr<UrlSession> session;
};

} // namespace

TEST(MobileUserAgent, IsTheFixedTextOfAMobileBrowser)
{
    EXPECT_EQ(iOSUserAgentString().size(), 127);
    EXPECT_FALSE(iOSUserAgentString().contains(u' '));
    EXPECT_EQ(&iOSUserAgentString(), &iOSUserAgentString());
}

TEST_F(UrlSessionExtensionsTest, AsksForMobilePagesWithTheMobileIdentityOnly)
{
    server.reply(u"/page"_s, bodyReply("page"));
    Received<QByteArray> mobile;
    Received<QByteArray> desktop;
    Received<QByteArray> byDefault;
    loadData(*session, SiteVersion::Mobile, urlOf(u"http://news.example.test/page"_s),
        mobile.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] { return mobile.arrived(); }));
    loadData(*session, SiteVersion::Desktop, urlOf(u"http://news.example.test/page"_s),
        desktop.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] { return desktop.arrived(); }));
    loadData(*session, urlOf(u"http://news.example.test/page"_s), byDefault.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] { return byDefault.arrived(); }));

    EXPECT_EQ(mobile.value, QByteArray("page"));
    EXPECT_TRUE(mobile.onDelegateQueue);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(QString::fromLatin1(requests[0].header("User-Agent")),
        u"Mozilla/5.0(iPhone;U;CPUiPhoneOS4_0likeMacOSX;en-us)AppleWebKit/532.9(KHTML,likeGecko)Version/4.0.5Mobile/8A293Safari/6531.22.7"_s);
    EXPECT_NE(QString::fromLatin1(requests[1].header("User-Agent")), iOSUserAgentString());
    EXPECT_EQ(QString::fromLatin1(requests[2].header("User-Agent")), iOSUserAgentString());

    // Without the mobile identity the session's own user agent goes.
    UrlSessionConfiguration configuration;
    configuration.httpAdditionalHeaders.setValue(u"User-Agent"_s, u"DesktopReader"_s);
    auto own = UrlSession::create(configuration);
    Received<QByteArray> plain;
    loadData(*own, SiteVersion::Desktop, urlOf(u"http://news.example.test/page"_s),
        plain.completion(*own));
    ASSERT_TRUE(TestSupport::waitFor([&] { return plain.arrived(); }));
    EXPECT_EQ(server.requests().last().header("User-Agent"), QByteArray("DesktopReader"));
}

TEST_F(UrlSessionExtensionsTest, RefusesVideoAddressesBeforeReturningButLoadsOtherCases)
{
    server.reply(u"/clip.MP4"_s, bodyReply("not refused"));
    for (const QString& text : { u"http://news.example.test/clip.mp4"_s,
             u"http://news.example.test/a?f=x.mp4"_s, u"http://news.example.test/a#t.mp4"_s }) {
        int calls = 0;
        std::optional<QString> value = u"unset"_s;
        const auto task
            = loadSource(*session, SiteVersion::Mobile, urlOf(text), [&](std::optional<QString> v) {
                  ++calls;
                  value = v;
              });
        EXPECT_EQ(task, nullptr);
        EXPECT_EQ(calls, 1) << text.toStdString();
        EXPECT_FALSE(value.has_value());
    }
    EXPECT_TRUE(server.requests().isEmpty());

    Received<QString> capitals;
    const auto task = loadSource(*session, SiteVersion::Desktop,
        urlOf(u"http://news.example.test/clip.MP4"_s), capitals.completion(*session));
    ASSERT_NE(task, nullptr);
    ASSERT_TRUE(TestSupport::waitFor([&] { return capitals.arrived(); }));
    EXPECT_EQ(capitals.value, u"not refused"_s);
}

TEST_F(UrlSessionExtensionsTest, ReadsTextAsUtf8OrElseByteForByte)
{
    server.reply(u"/utf8"_s, bodyReply("caf\xc3\xa9 \xe2\x82\xac"));
    server.reply(u"/latin1"_s, bodyReply("caf\xe9 na\xefve"));
    server.reply(u"/error"_s, bodyReply("<h1>Not found</h1>", 404));
    Received<QString> utf8;
    Received<QString> latin1;
    Received<QString> error;
    loadSource(*session, SiteVersion::Mobile, urlOf(u"http://news.example.test/utf8"_s),
        utf8.completion(*session));
    loadSource(*session, SiteVersion::Mobile, urlOf(u"http://news.example.test/latin1"_s),
        latin1.completion(*session));
    loadSource(*session, SiteVersion::Mobile, urlOf(u"http://news.example.test/error"_s),
        error.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return utf8.arrived() && latin1.arrived() && error.arrived(); }));
    EXPECT_EQ(utf8.value, u"café €"_s);
    EXPECT_EQ(latin1.value, u"café naïve"_s);
    // The status is never looked at: an error page is a page.
    EXPECT_EQ(error.value, u"<h1>Not found</h1>"_s);
    EXPECT_TRUE(utf8.onDelegateQueue);
}

TEST_F(UrlSessionExtensionsTest, PassesOnOnlyJsonObjects)
{
    server.reply(u"/object"_s,
        bodyReply(
            R"({"results":[{"artworkUrl512":"http://x.test/a.png"}],"n":12345678901234})", 500));
    server.reply(u"/array"_s, bodyReply("[1,2,3]"));
    server.reply(u"/scalar"_s, bodyReply("\"text\""));
    server.reply(u"/empty"_s, bodyReply(""));
    server.reply(u"/broken"_s, bodyReply("{\"a\":"));
    std::map<QString, std::unique_ptr<Received<nlohmann::json>>> results;
    for (const QString& path :
        { u"/object"_s, u"/array"_s, u"/scalar"_s, u"/empty"_s, u"/broken"_s }) {
        results[path] = std::make_unique<Received<nlohmann::json>>();
        loadJSON(*session, urlOf(u"http://news.example.test"_s + path),
            results[path]->completion(*session));
    }
    ASSERT_TRUE(TestSupport::waitFor([&] {
        for (auto& [path, r] : results) {
            if (!r->arrived())
                return false;
        }
        return true;
    }));
    ASSERT_TRUE(results[u"/object"_s]->value.has_value());
    EXPECT_EQ(
        (*results[u"/object"_s]->value)["results"][0]["artworkUrl512"], "http://x.test/a.png");
    EXPECT_EQ((*results[u"/object"_s]->value)["n"].get<std::int64_t>(), 12345678901234);
    for (const QString& path : { u"/array"_s, u"/scalar"_s, u"/empty"_s, u"/broken"_s })
        EXPECT_FALSE(results[path]->value.has_value()) << path.toStdString();
    EXPECT_EQ(
        QString::fromLatin1(server.requests().first().header("User-Agent")), iOSUserAgentString());
}

TEST_F(UrlSessionExtensionsTest, DecodesImagesAndNothingElse)
{
    ScriptedReply png = bodyReply(pngBytes(30, 20));
    png.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("image/png")));
    server.reply(u"/icon.png"_s, png);
    server.reply(u"/page.html"_s, bodyReply("<html><body>no image</body></html>"));
    server.reply(u"/truncated.png"_s, bodyReply(pngBytes(30, 20).left(40)));
    Received<QImage> image;
    Received<QImage> html;
    Received<QImage> truncated;
    Received<QImage> local;
    loadImage(*session, urlOf(u"http://news.example.test/icon.png"_s), image.completion(*session));
    loadImage(*session, urlOf(u"http://news.example.test/page.html"_s), html.completion(*session));
    loadImage(*session, urlOf(u"http://news.example.test/truncated.png"_s),
        truncated.completion(*session));
    const auto task = loadImage(*session, urlOf(u"file:///usr/share/pixmaps/debian-logo.png"_s),
        local.completion(*session));
    EXPECT_NE(task, nullptr);
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return image.arrived() && html.arrived() && truncated.arrived() && local.arrived();
    }));
    ASSERT_TRUE(image.value.has_value());
    EXPECT_EQ(image.value->size(), QSize(30, 20));
    EXPECT_FALSE(html.value.has_value());
    EXPECT_FALSE(truncated.value.has_value());
    EXPECT_FALSE(local.value.has_value());
    // A plain request: no identity of its own.
    for (const auto& request : server.requests())
        EXPECT_NE(QString::fromLatin1(request.header("User-Agent")), iOSUserAgentString());
}

TEST_F(UrlSessionExtensionsTest, ReportsTransportFailuresAndCancellationAsNothing)
{
    // A port nothing listens on: find one by closing a server.
    int closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    const QString refused = u"http://127.0.0.1:%1/feed"_s.arg(closedPort);
    Received<QByteArray> data;
    Received<QString> text;
    Received<nlohmann::json> json;
    Received<QImage> image;
    loadData(*session, urlOf(refused), data.completion(*session));
    loadSource(*session, SiteVersion::Desktop, urlOf(refused), text.completion(*session));
    loadJSON(*session, urlOf(refused), json.completion(*session));
    loadImage(*session, urlOf(refused), image.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return data.arrived() && text.arrived() && json.arrived() && image.arrived(); }));
    EXPECT_FALSE(data.value.has_value());
    EXPECT_FALSE(text.value.has_value());
    EXPECT_FALSE(json.value.has_value());
    EXPECT_FALSE(image.value.has_value());

    ScriptedReply slow = bodyReply("late");
    slow.delayMs = 5000;
    server.reply(u"/slow"_s, slow);
    Received<QByteArray> cancelled;
    const auto task = loadData(
        *session, urlOf(u"http://news.example.test/slow"_s), cancelled.completion(*session));
    EXPECT_EQ(task->state(), UrlSessionDataTask::State::Running);
    task->cancel();
    ASSERT_TRUE(TestSupport::waitFor([&] { return cancelled.arrived(); }));
    EXPECT_FALSE(cancelled.value.has_value());
    EXPECT_EQ(cancelled.calls, 1);
}

// A story row draws the middle of its picture some dozens of points wide: a camera photo, a banner
// or a tiny file announcing a huge canvas must not be held at full size, twenty stories at a time.
TEST_F(UrlSessionExtensionsTest, ReadsAStoryPictureNoLargerThanARowDrawsIt)
{
    const struct {
        const char* path;
        QByteArray body;
        bool coversRow;
    } pictures[] = {
        { "/photo.jpg", TestSupport::encodedImage(filled(3000, 2000), "JPEG"), true },
        { "/banner.png", TestSupport::encodedImage(filled(4000, 500), "PNG"), true },
        { "/progressive.jpg", TestSupport::encodedImage(filled(1600, 1000), "JPEG", true), true },
        // Read whole, as no smaller size covers the row; only the part a row shows is kept.
        { "/strip.png", TestSupport::encodedImage(filled(8000, 40), "PNG"), false },
    };
    const QByteArray hugeGif = TestSupport::gifOfCanvas(QSize(4096, 4096));
    ASSERT_EQ(hugeGif.size(), 35);
    server.reply(u"/huge.gif"_s, bodyReply(hugeGif));
    server.reply(u"/small.gif"_s, bodyReply(TestSupport::gifOfCanvas(QSize(40, 30))));
    Received<QImage> received[std::size(pictures)];
    for (size_t i = 0; i < std::size(pictures); ++i) {
        server.reply(QString::fromLatin1(pictures[i].path), bodyReply(pictures[i].body));
        loadImage(*session, urlOf(u"http://news.example.test"_s + QLatin1String(pictures[i].path)),
            received[i].completion(*session));
    }
    Received<QImage> huge, small;
    loadImage(*session, urlOf(u"http://news.example.test/huge.gif"_s), huge.completion(*session));
    loadImage(*session, urlOf(u"http://news.example.test/small.gif"_s), small.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return std::all_of(
                   std::begin(received), std::end(received), [](auto& r) { return r.arrived(); })
            && huge.arrived() && small.arrived();
    }));

    const QSize row(50, 75); // the picture column by the row's height, in points
    for (size_t i = 0; i < std::size(pictures); ++i) {
        const auto& picture = received[i].value;
        ASSERT_TRUE(picture.has_value()) << pictures[i].path;
        // In the row's shape, at no more than a dense screen's pixels.
        EXPECT_NEAR(picture->width() * row.height(), picture->height() * row.width(), row.height())
            << pictures[i].path << " " << picture->width() << "x" << picture->height();
        EXPECT_LE(picture->width(), 4 * row.width()) << pictures[i].path;
        if (pictures[i].coversRow) {
            EXPECT_GE(picture->width(), row.width()) << pictures[i].path;
        }
    }
    // Read whole before it could be scaled: past an ordinary photo's size it is no picture.
    EXPECT_FALSE(huge.value.has_value());
    ASSERT_TRUE(small.value.has_value());
    EXPECT_EQ(small.value->size(), QSize(40, 30)); // already no larger than the row
}

namespace {

QImage redOverBlue(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < height / 2; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), width, qRgb(255, 0, 0));
    return image;
}

bool redOnTheRight(const QImage& image)
{
    const QColor right = image.pixelColor(image.width() - 2, image.height() / 2);
    const QColor left = image.pixelColor(1, image.height() / 2);
    return right.red() > 200 && right.blue() < 60 && left.blue() > 200 && left.red() < 60;
}

// What the process logs in the category of pictures, while it lives.
class PictureLog {
public:
    PictureLog() { previous = qInstallMessageHandler(&PictureLog::handle); }
    ~PictureLog() { qInstallMessageHandler(previous); }
    PictureLog(const PictureLog&) = delete;
    PictureLog& operator=(const PictureLog&) = delete;

    int mentions(const QString& text) const
    {
        std::lock_guard lock(mutex);
        return int(std::count_if(
            lines.cbegin(), lines.cend(), [&](const QString& l) { return l.contains(text); }));
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (qstrcmp(context.category, "tickerly.pictures") != 0)
            return;
        std::lock_guard lock(mutex);
        lines.append(message);
    }
    static inline std::mutex mutex;
    static inline QStringList lines;
    QtMessageHandler previous = nullptr;
};

} // namespace

// Sites' optimisers write progressive JPEG and palette, gray or 16-bit PNG; a phone says in its
// Exif block how it was held. Each is read at a row's size, upright, as is an icon.
TEST(UrlLoadingDecoders, ReadsEveryCommonKindOfPhotoUprightAtARowsSize)
{
    QImage palette(3000, 2000, QImage::Format_Indexed8);
    palette.setColorTable({ qRgb(30, 120, 200) });
    palette.fill(0);
    QImage gray(3000, 2000, QImage::Format_Grayscale8);
    gray.fill(QColor(90, 90, 90));
    QImage deep(3000, 2000, QImage::Format_RGBA64);
    deep.fill(QColor(30, 120, 200));
    const struct {
        const char* kind;
        QByteArray bytes;
    } photos[] = {
        { "progressive JPEG", TestSupport::encodedImage(filled(3000, 2000), "JPEG", true) },
        { "palette PNG", TestSupport::encodedImage(palette, "PNG") },
        { "gray PNG", TestSupport::encodedImage(gray, "PNG") },
        { "16-bit PNG", TestSupport::encodedImage(deep, "PNG") },
    };
    for (const auto& photo : photos) {
        const std::optional<QImage> picture = UrlLoadingDecoders::image(photo.bytes, 2);
        ASSERT_TRUE(picture.has_value()) << photo.kind;
        EXPECT_EQ(picture->size(), QSize(100, 150)) << photo.kind;
    }

    const QByteArray held = TestSupport::withExifOrientation(
        TestSupport::encodedImage(redOverBlue(1200, 900), "JPEG"), 6);
    const std::optional<QImage> story = UrlLoadingDecoders::image(held, 2);
    ASSERT_TRUE(story.has_value());
    EXPECT_EQ(story->size(), QSize(100, 150));
    EXPECT_TRUE(redOnTheRight(*story));
    const std::optional<QImage> icon = UrlLoadingDecoders::icon(held);
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->size(), QSize(192, 256));
    EXPECT_TRUE(redOnTheRight(*icon));
}

TEST_F(UrlSessionExtensionsTest, SaysOncePerAddressThatAPictureCostsTooMuchToShow)
{
    PictureLog log;
    server.reply(u"/huge-one.gif"_s, bodyReply(TestSupport::gifOfCanvas(QSize(4096, 4096))));
    server.reply(u"/huge-two.gif"_s, bodyReply(TestSupport::gifOfCanvas(QSize(4096, 4096))));
    server.reply(u"/broken.png"_s, bodyReply(pngBytes(30, 20).left(40)));
    for (const QString& path : { u"/huge-one.gif"_s, u"/huge-two.gif"_s, u"/huge-one.gif"_s,
             u"/broken.png"_s, u"/huge-one.gif"_s }) {
        Received<QImage> picture;
        loadImage(
            *session, urlOf(u"http://news.example.test"_s + path), picture.completion(*session));
        ASSERT_TRUE(TestSupport::waitFor([&] { return picture.arrived(); }));
        EXPECT_FALSE(picture.value.has_value());
    }
    EXPECT_EQ(log.mentions(u"/huge-one.gif"_s), 1);
    EXPECT_EQ(log.mentions(u"/huge-two.gif"_s), 1);
    EXPECT_EQ(log.mentions(u"/broken.png"_s), 0); // damaged, not too large
}

// Over a fast network every picture would be in before the first is decoded: a process holds
// the bytes of a few at once, each let go once it is decoded, and the next then starts.
TEST_F(UrlSessionExtensionsTest, HoldsTheBytesOfOnlyAFewPicturesAtOnce)
{
    constexpr int pictures = 10, few = 4;
    std::mutex mutex;
    std::condition_variable changed;
    int received = 0, decoded = 0, mostHeld = 0;
    const QByteArray png = pngBytes(30, 20);
    for (int i = 0; i < pictures; ++i)
        server.replyWith(u"/picture/%1"_s.arg(i), [&](const RecordedRequest&) {
            std::unique_lock lock(mutex);
            ++received;
            mostHeld = std::max(mostHeld, received - decoded);
            changed.notify_all();
            // Answered once as many as may be held have asked, so that every one is asked
            // for that would be before any is decoded.
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return received >= few; });
            return bodyReply(png);
        });
    Received<QImage> loaded[pictures];
    for (int i = 0; i < pictures; ++i) {
        auto completion = loaded[i].completion(*session);
        loadImage(*session, urlOf(u"http://news.example.test/picture/%1"_s.arg(i)),
            [&, completion](std::optional<QImage> image) {
                {
                    std::lock_guard lock(mutex);
                    ++decoded;
                }
                completion(std::move(image));
            });
    }
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return std::all_of(
            std::begin(loaded), std::end(loaded), [](auto& r) { return r.arrived(); });
    }));
    for (auto& picture : loaded)
        EXPECT_TRUE(picture.value.has_value());
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, pictures);
    EXPECT_LE(mostHeld, few);
}

#include "data/discovery/ImageFetcher.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "data/model/NewsStory.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

ScriptedReply png(QColor color, int size) { return DiscoveryTest::pngReply(color, size); }

ScriptedReply page(const QByteArray& head) { return DiscoveryTest::pageReply(head); }

ScriptedReply notFound()
{
    ScriptedReply reply;
    reply.status = 404;
    reply.body = "<html>gone</html>";
    return reply;
}

std::shared_ptr<NewsStory> story(
    const std::optional<QString>& link, const std::optional<QString>& imageLink = std::nullopt)
{
    auto s
        = std::make_shared<NewsStory>(u"h"_s, u"b"_s, link ? Url::fromString(*link) : std::nullopt,
            std::optional<QDateTime>(), std::make_shared<Source>(u"s"_s, u"http://s/"_s));
    if (imageLink)
        s->setImageLink(Url::fromString(*imageLink));
    return s;
}

// Counts the calls a load makes, from whichever queue they come.
struct Calls {
    std::atomic<int> willLoad = 0;
    std::atomic<int> completions = 0;
    std::atomic<bool> offMainQueue = true;
    std::function<void()> willLoadImage()
    {
        return [this] { ++willLoad; };
    }
    std::function<void()> completion(UrlSession& session)
    {
        OperationQueue* queue = &session.delegateQueue();
        return [this, queue] {
            if (OperationQueue::current() != queue)
                offMainQueue = false;
            ++completions;
        };
    }
};

class ImageLoading : public ::testing::Test {
protected:
    void TearDown() override { UrlSessionTesting::closeIdleConnections(); }

    // The size of the picture a story of the page at `path` loads, once its load has ended.
    QSize pictureOfStoryAt(const QString& path, Calls& calls)
    {
        auto s = story(server.url(path));
        EXPECT_TRUE(s->loadImage(session, calls.willLoadImage(), calls.completion(*session)));
        EXPECT_TRUE(TestSupport::waitFor([&] { return calls.completions == 1; }))
            << path.toStdString();
        return s->image().size();
    }

    // Runs the event loop until the session's queue has run what is queued on it now and what
    // that queues in turn: an answer that work would still give has come by then.
    void finishQueuedWork()
    {
        std::atomic<bool> reached = false;
        OperationQueue& queue = session->delegateQueue();
        queue.addOperation(
            [&queue, &reached] { queue.addOperation([&reached] { reached = true; }); });
        EXPECT_TRUE(TestSupport::waitFor([&] { return reached.load(); }));
        TestSupport::processEvents();
    }

    LoopbackServer server;
    std::shared_ptr<UrlSession> session = UrlSession::create();
};

} // namespace

TEST_F(ImageLoading, LoadsTheImageLinkAndReplacesAnyImageByTheResult)
{
    server.reply(u"/big.png"_s, png(Qt::red, 8));
    server.reply(u"/gone.png"_s, notFound());
    auto s = story(server.url(u"/article"_s), server.url(u"/big.png"_s));
    Calls calls;
    EXPECT_TRUE(s->loadImage(session, calls.willLoadImage(), calls.completion(*session)));
    EXPECT_EQ(calls.willLoad, 1);
    ASSERT_TRUE(TestSupport::waitFor([&] { return calls.completions == 1; }));
    EXPECT_TRUE(calls.offMainQueue);
    EXPECT_EQ(s->image().size(), QSize(8, 8));
    EXPECT_EQ(server.requestCount(u"/article"_s), 0);

    // With an image in hand a new load still answers once, when it ends (here: failed).
    s->setImageLink(Url::fromString(server.url(u"/gone.png"_s)));
    std::atomic<int> reloads = 0;
    std::atomic<bool> imageWhenAnswered = true;
    s->loadImage(session, {}, [&] {
        imageWhenAnswered = !s->image().isNull();
        ++reloads;
    });
    // The load has ended once the image is gone; the answer runs in the same step.
    ASSERT_TRUE(TestSupport::waitFor([&] { return s->image().isNull(); }));
    finishQueuedWork();
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(imageWhenAnswered);
    EXPECT_TRUE(s->image().isNull());

    // Neither link but an image: nothing loads, the answer comes once, at once.
    auto kept = story(std::nullopt);
    kept->setImage(QImage(2, 2, QImage::Format_RGB32));
    std::atomic<int> answers = 0;
    EXPECT_FALSE(kept->loadImage(session, {}, [&] { ++answers; }));
    EXPECT_EQ(answers, 1);
    finishQueuedWork();
    EXPECT_EQ(answers, 1);
}

TEST_F(ImageLoading, FindsTheArticlesSharingImageInRuleOrder)
{
    server.reply(u"/src.png"_s, png(Qt::red, 3));
    server.reply(u"/og.png"_s, png(Qt::green, 4));
    server.reply(u"/card.png"_s, png(Qt::blue, 5));
    server.reply(u"/all"_s,
        page("<meta name=\"twitter:image:src\" content=\"" + server.url(u"/card.png"_s).toUtf8()
            + "\"><META PROPERTY='og:image' content=\"" + server.url(u"/og.png"_s).toUtf8()
            + "\"><link href=\"" + server.url(u"/src.png"_s).toUtf8() + "\" rel=\"image_src\">"));
    server.reply(u"/og-broken"_s,
        page("<meta property=\"og:image\" content=\"" + server.url(u"/missing.png"_s).toUtf8()
            + "\"/><meta name=\"twitter:image:src\" content=\""
            + server.url(u"/card.png"_s).toUtf8() + "\"/>"));
    server.reply(u"/missing.png"_s, notFound());

    const QList<QPair<QString, QSize>> cases { { u"/all"_s, QSize(3, 3) },
        { u"/og-broken"_s, QSize(5, 5) } };
    for (const auto& [path, size] : cases) {
        Calls calls;
        EXPECT_EQ(pictureOfStoryAt(path, calls), size) << path.toStdString();
        EXPECT_EQ(calls.willLoad, path == u"/all"_s ? 1 : 2);
        EXPECT_TRUE(calls.offMainQueue);
    }
    // The page is asked for as a desktop browser would.
    EXPECT_EQ(server.requests().first().header("user-agent").contains("iPhone"), false);
}

// An address a script builds, a style names or a comment keeps is not the article's picture,
// and is never asked for; the rules read the markup around them.
TEST_F(ImageLoading, ReadsThePictureRulesOutsideScriptsStylesAndComments)
{
    for (const char* name : { "/script.png", "/template.png", "/comment.png", "/style.png" })
        server.reply(QString::fromLatin1(name), png(Qt::red, 3));
    server.reply(u"/og.png"_s, png(Qt::green, 5));
    auto at = [&](const char* path) { return server.url(QString::fromLatin1(path)).toUtf8(); };
    const QByteArray hidden = "<script>var card = '<meta property=\"og:image\" content=\""
        + at("/script.png") + "\">';</script><!-- <link rel=\"image_src\" href=\""
        + at("/comment.png") + "\"> -->"
        + "<STYLE media=screen>/* <meta name='twitter:image:src' content='" + at("/style.png")
        + "'> */</style >"
        + "<Script type=\"text/template\"><meta name=\"twitter:image:src\" content=\""
        + at("/template.png") + "\"></SCRIPT>";
    server.reply(u"/hidden"_s, page(hidden));
    server.reply(u"/shown"_s,
        page(hidden + "<meta property=\"og:image\" content=\"" + at("/og.png") + "\">"));
    server.reply(u"/unclosed"_s,
        page("<script>x = \"<meta property='og:image' content='" + at("/script.png") + "'>\""));

    const QList<QPair<QString, QSize>> cases { { u"/hidden"_s, QSize(0, 0) },
        { u"/shown"_s, QSize(5, 5) }, { u"/unclosed"_s, QSize(0, 0) } };
    for (const auto& [path, size] : cases) {
        Calls calls;
        EXPECT_EQ(pictureOfStoryAt(path, calls), size) << path.toStdString();
    }
    for (const char* name : { "/script.png", "/template.png", "/comment.png", "/style.png" })
        EXPECT_EQ(server.requestCount(QString::fromLatin1(name)), 0) << name;
}

TEST_F(ImageLoading, EndsWithNothingWhenThereIsNothingToLoad)
{
    server.reply(u"/plain"_s, page("<title>No pictures</title>"));
    auto plain = story(server.url(u"/plain"_s));
    Calls calls;
    plain->loadImage(session, calls.willLoadImage(), calls.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] { return calls.completions == 1; }));
    EXPECT_EQ(calls.willLoad, 0);
    EXPECT_TRUE(plain->image().isNull());

    // Neither link: nothing starts and nothing is reported.
    Calls none;
    EXPECT_FALSE(
        story(std::nullopt)->loadImage(session, none.willLoadImage(), none.completion(*session)));
    finishQueuedWork();
    EXPECT_EQ(none.completions, 0);

    // A video page is never loaded; the answer comes before loadImage returns.
    auto video = story(server.url(u"/clip.mp4"_s));
    video->setImage(QImage(2, 2, QImage::Format_RGB32));
    std::atomic<int> completions = 0;
    EXPECT_FALSE(video->loadImage(session, {}, [&] { ++completions; }));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(video->image().isNull());
    EXPECT_EQ(server.requestCount(u"/clip.mp4"_s), 0);
}

TEST_F(ImageLoading, FetcherCompletesOnceForAFailedPage)
{
    std::atomic<int> calls = 0;
    std::atomic<bool> gotImage = false;
    auto task = ImageFetcher::fetchImage(*Url::fromString(u"http://127.0.0.1:9/article"_s), session,
        {}, [&](std::optional<QImage> image) {
            gotImage = image.has_value();
            ++calls;
        });
    EXPECT_TRUE(task);
    ASSERT_TRUE(TestSupport::waitFor([&] { return calls > 0; }));
    finishQueuedWork();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(gotImage);
}

TEST_F(ImageLoading, AStoryNoSharedPointerOwnsLoadsNothingAndThrowsNothing)
{
    server.reply(u"/big.png"_s, png(Qt::red, 8));
    NewsStory loose(u"h"_s, u"b"_s, Url::fromString(server.url(u"/article"_s)),
        std::optional<QDateTime>(), std::make_shared<Source>(u"s"_s, u"http://s/"_s));
    loose.setImageLink(Url::fromString(server.url(u"/big.png"_s)));
    Calls calls;
    std::shared_ptr<UrlSessionDataTask> task;
    EXPECT_NO_THROW(
        task = loose.loadImage(session, calls.willLoadImage(), calls.completion(*session)));
    EXPECT_FALSE(task);
    EXPECT_EQ(calls.willLoad, 0);

    // A load through the same session that starts after it has ended before any answer.
    server.reply(u"/later.png"_s, png(Qt::blue, 2));
    auto later = story(server.url(u"/article"_s), server.url(u"/later.png"_s));
    Calls after;
    later->loadImage(session, {}, after.completion(*session));
    ASSERT_TRUE(TestSupport::waitFor([&] { return after.completions == 1; }));
    finishQueuedWork();
    EXPECT_EQ(calls.completions, 0);
    EXPECT_EQ(server.requestCount(u"/big.png"_s), 0);
}

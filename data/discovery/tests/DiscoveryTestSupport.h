#pragma once

#include "data/Namespace.h"
#include "testsupport/LoopbackServer.h"

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace Tickerly::Data {

// Replies the discovery tests serve from their loopback servers.
namespace DiscoveryTest {

// A PNG of one colour, `width` by `height` pixels (square when no height is given).
inline TestSupport::ScriptedReply pngReply(QColor color, int width, int height = 0)
{
    QImage image(width, height > 0 ? height : width, QImage::Format_ARGB32);
    image.fill(color);
    TestSupport::ScriptedReply reply;
    QBuffer buffer(&reply.body);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    reply.headers = { { "Content-Type", "image/png" } };
    return reply;
}

// An HTML page with `head` as its head.
inline TestSupport::ScriptedReply pageReply(const QByteArray& head)
{
    TestSupport::ScriptedReply reply;
    reply.body = "<html><head>" + head + "</head><body>Article</body></html>";
    reply.headers = { { "Content-Type", "text/html" } };
    return reply;
}

// An RSS 2.0 feed with one story, titled `title`, whose site link is `site` ("http://x.test/").
inline QByteArray rss(const QByteArray& title, const QByteArray& site)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title + "</title><link>"
        + site + "</link><item><title>First</title><link>" + site
        + "first</link></item></channel></rss>";
}

// Serves "/" on `iconHost` as a page naming "/touch.png" there as its touch icon, a `color`
// PNG; on every other host "/" is a page with no icon and no feed link.
inline void serveSitePages(
    TestSupport::LoopbackServer& server, const QByteArray& iconHost, QColor color)
{
    server.replyWith(QStringLiteral("/"), [iconHost](const TestSupport::RecordedRequest& request) {
        return pageReply(request.header("host") == iconHost
                ? "<link rel=\"apple-touch-icon\" href=\"http://" + iconHost + "/touch.png\">"
                : "<title>Nothing to see</title>");
    });
    server.reply(QStringLiteral("/touch.png"), pngReply(color, 120));
}

// A reply whose connection closes before the announced body is complete: a failed transfer.
inline TestSupport::ScriptedReply brokenReply()
{
    TestSupport::ScriptedReply reply;
    reply.body = QByteArray(4096, 'x');
    reply.cutAfter = 10;
    return reply;
}

// Collects what an image completion receives, from whichever thread it comes.
struct ImageOutcome {
    std::atomic<int> calls = 0;
    std::atomic<bool> onMainThread = false;
    std::mutex mutex;
    std::optional<QImage> image;

    std::function<void(std::optional<QImage>)> completion()
    {
        return [this](std::optional<QImage> received) {
            {
                std::lock_guard lock(mutex);
                image = std::move(received);
            }
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                onMainThread = true;
            ++calls;
        };
    }
    // The size of the image received, or an invalid size for nothing.
    QSize size()
    {
        std::lock_guard lock(mutex);
        return image ? image->size() : QSize();
    }
};

} // namespace DiscoveryTest

} // namespace Tickerly::Data

#include "testsupport/LoopbackServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <httplib.h>
#include <zlib.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace Tickerly::TestSupport {

using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray gzipped(const QByteArray& data)
{
    z_stream zs {};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(
        static_cast<qsizetype>(deflateBound(&zs, static_cast<uLong>(data.size()))) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(static_cast<qsizetype>(zs.total_out));
    deflateEnd(&zs);
    return out;
}

QByteArray contentTypeFor(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xml" || suffix == u"rss" || suffix == u"atom" || suffix == u"rdf")
        return "application/xml";
    if (suffix == u"html" || suffix == u"htm")
        return "text/html";
    if (suffix == u"json")
        return "application/json";
    if (suffix == u"png")
        return "image/png";
    if (suffix == u"jpg" || suffix == u"jpeg")
        return "image/jpeg";
    if (suffix == u"gif")
        return "image/gif";
    if (suffix == u"ico")
        return "image/x-icon";
    return "application/octet-stream";
}

} // namespace

struct LoopbackServer::State {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopping { false };

    mutable std::mutex mutex;
    QMap<QString, std::function<ScriptedReply(const RecordedRequest&)>> scripts;
    QList<QPair<QString, QString>> directories;
    std::function<std::optional<ScriptedReply>(const RecordedRequest&)> otherwise;
    QList<RecordedRequest> requests;

    void sleepUnlessStopping(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::optional<ScriptedReply> find(const RecordedRequest& request)
    {
        const QString full = QString::fromUtf8(request.path);
        const QString path = full.section(u'?', 0, 0);
        std::function<ScriptedReply(const RecordedRequest&)> fn;
        QList<QPair<QString, QString>> dirs;
        std::function<std::optional<ScriptedReply>(const RecordedRequest&)> fallback;
        {
            std::lock_guard lock(mutex);
            fn = scripts.value(full, scripts.value(path));
            dirs = directories;
            fallback = otherwise;
        }
        if (fn)
            return fn(request);
        // As many servers do, a doubled slash names nothing.
        if (path.contains(u"//"_s))
            return std::nullopt;
        for (const auto& [prefix, dir] : dirs) {
            if (!path.startsWith(prefix))
                continue;
            const QString relative = QUrl::fromPercentEncoding(path.mid(prefix.size()).toUtf8());
            if (relative.contains(u".."))
                continue;
            QFile file(QDir(dir).filePath(relative));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            ScriptedReply r;
            r.body = file.readAll();
            r.headers.append({ "Content-Type", contentTypeFor(relative) });
            return r;
        }
        if (fallback)
            return fallback(request);
        return std::nullopt;
    }

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        RecordedRequest rec;
        rec.method = QByteArray::fromStdString(req.method);
        rec.path = QByteArray::fromStdString(req.target);
        for (const auto& [name, value] : req.headers)
            rec.headers.insert(
                QByteArray::fromStdString(name).toLower(), QByteArray::fromStdString(value));
        rec.body = QByteArray::fromStdString(req.body);
        {
            std::lock_guard lock(mutex);
            requests.append(rec);
        }
        std::optional<ScriptedReply> found = find(rec);
        if (!found) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        ScriptedReply r = *found;
        if (r.delayMs > 0)
            sleepUnlessStopping(r.delayMs);
        res.status = r.status;
        QByteArray contentType = "text/plain";
        for (const auto& [name, value] : r.headers) {
            if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
                contentType = value;
            else
                res.set_header(name.toStdString(), value.toStdString());
        }
        QByteArray body = r.gzip ? gzipped(r.body) : r.body;
        if (r.gzip)
            res.set_header("Content-Encoding", "gzip");
        auto shared = std::make_shared<QByteArray>(body);
        const std::string type = contentType.toStdString();
        const qsizetype sendUpTo
            = r.cutAfter ? std::clamp<qsizetype>(*r.cutAfter, 0, body.size()) : body.size();
        const bool cut = r.cutAfter.has_value();
        const int stallMs = r.stallMs;
        const int trickleMs = r.trickleMs;
        if (r.chunked) {
            res.set_chunked_content_provider(type,
                [this, shared, sendUpTo, cut, stallMs](size_t offset, httplib::DataSink& sink) {
                    const qsizetype at = static_cast<qsizetype>(offset);
                    if (at < sendUpTo) {
                        const qsizetype n = std::min<qsizetype>(1024, sendUpTo - at);
                        sink.write(shared->constData() + at, static_cast<size_t>(n));
                        return true;
                    }
                    if (stallMs > 0)
                        sleepUnlessStopping(stallMs);
                    if (cut)
                        return false;
                    sink.done();
                    return true;
                });
            return;
        }
        // A sized provider is never compressed again by the server and lets a body stop short.
        res.set_content_provider(static_cast<size_t>(body.size()), type,
            [this, shared, sendUpTo, stallMs, trickleMs](
                size_t offset, size_t length, httplib::DataSink& sink) {
                const qsizetype at = static_cast<qsizetype>(offset);
                if (at < sendUpTo && trickleMs > 0) {
                    if (!sink.write(shared->constData() + at, 1))
                        return false;
                    sleepUnlessStopping(trickleMs);
                    return true;
                }
                if (at < sendUpTo) {
                    const qsizetype n
                        = std::min<qsizetype>(static_cast<qsizetype>(length), sendUpTo - at);
                    sink.write(shared->constData() + at, static_cast<size_t>(n));
                    return true;
                }
                if (stallMs > 0)
                    sleepUnlessStopping(stallMs);
                return false;
            });
    }
};

LoopbackServer::LoopbackServer(int workerThreads)
    : d(std::make_unique<State>())
{
    if (workerThreads > 0)
        d->server.new_task_queue = [workerThreads] {
            return new httplib::ThreadPool(static_cast<size_t>(workerThreads));
        };
    auto handler
        = [this](const httplib::Request& req, httplib::Response& res) { d->handle(req, res); };
    d->server.Get(".*", handler);
    d->server.Post(".*", handler);
    d->server.Put(".*", handler);
    d->server.Delete(".*", handler);
    d->server.Patch(".*", handler);
    d->server.Options(".*", handler);
    d->server.set_keep_alive_max_count(100);
    // Without it small answers wait for the client's delayed acknowledgement (40 ms each).
    d->server.set_tcp_nodelay(true);
    // A client's idle kept-alive connection holds up the server's stop for this long.
    d->server.set_keep_alive_timeout(1);
    // The library listens with a backlog of 5: many clients connecting at once would wait out
    // a one-second SYN retry. Keep the listening socket to raise it after binding.
    auto listening = std::make_shared<std::atomic<int>>(-1);
    d->server.set_socket_options([listening](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        int expected = -1;
        listening->compare_exchange_strong(expected, sock);
    });
    d->port = d->server.bind_to_any_port("127.0.0.1");
    if (*listening >= 0)
        ::listen(*listening, 1024);
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    while (!d->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop()
{
    d->stopping = true;
    d->server.stop();
    if (d->thread.joinable())
        d->thread.join();
}

int LoopbackServer::port() const { return d->port; }

QString LoopbackServer::baseUrl() const
{
    return u"http://127.0.0.1:"_s + QString::number(d->port);
}

QString LoopbackServer::url(const QString& path) const { return baseUrl() + path; }

void LoopbackServer::reply(const QString& path, const ScriptedReply& reply)
{
    replyWith(path, [reply](const RecordedRequest&) { return reply; });
}

void LoopbackServer::replyWith(
    const QString& path, std::function<ScriptedReply(const RecordedRequest&)> fn)
{
    std::lock_guard lock(d->mutex);
    d->scripts.insert(path, std::move(fn));
}

void LoopbackServer::replyOtherwise(
    std::function<std::optional<ScriptedReply>(const RecordedRequest&)> fn)
{
    std::lock_guard lock(d->mutex);
    d->otherwise = std::move(fn);
}

void LoopbackServer::serveDirectory(const QString& urlPrefix, const QString& directory)
{
    std::lock_guard lock(d->mutex);
    d->directories.append({ urlPrefix, directory });
}

QList<RecordedRequest> LoopbackServer::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int LoopbackServer::requestCount(const QString& path) const
{
    std::lock_guard lock(d->mutex);
    int n = 0;
    for (const auto& r : d->requests) {
        if (QString::fromUtf8(r.path) == path
            || QString::fromUtf8(r.path).section(u'?', 0, 0) == path)
            ++n;
    }
    return n;
}

void LoopbackServer::clearRequests()
{
    std::lock_guard lock(d->mutex);
    d->requests.clear();
}

ScriptedReply bodyReply(const QByteArray& body, int status)
{
    ScriptedReply r;
    r.status = status;
    r.body = body;
    return r;
}

ScriptedReply redirectTo(const QString& location, int status)
{
    ScriptedReply r;
    r.status = status;
    r.headers.append({ "Location", location.toUtf8() });
    return r;
}

} // namespace Tickerly::TestSupport

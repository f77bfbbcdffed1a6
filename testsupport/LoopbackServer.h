#pragma once

#include "testsupport/Namespace.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::TestSupport {

// What the server answers to one request.
struct ScriptedReply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers; // "Content-Type" defaults to text/plain
    QByteArray body;
    int delayMs = 0; // before anything is sent
    // Announce the whole body's length, send only this many bytes, then close the connection.
    std::optional<qsizetype> cutAfter;
    // After the bytes that are sent, keep the connection open and silent this long.
    int stallMs = 0;
    bool chunked = false; // send the body in chunks, without a length
    int trickleMs = 0; // send the (sized) body one byte at a time, this far apart
    bool gzip = false; // send the body gzip-compressed with "Content-Encoding: gzip"
};

struct RecordedRequest {
    QByteArray method;
    QByteArray path; // as sent, with the query
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

// A real HTTP/1.1 server on 127.0.0.1 at an ephemeral port, run on threads of its own for the
// life of the object. Answers scripted replies by exact path (query ignored unless the script
// registered the path with it), serves files under registered directories, and 404 otherwise
// (always for an unscripted path with a doubled slash, which is never merged).
// Records every request it receives. Thread-safe.
class LoopbackServer {
public:
    // `workerThreads` bounds how many requests are answered at once (0: the library's default).
    explicit LoopbackServer(int workerThreads = 0);
    // Stops, as stop() does.
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Stops listening and returns once every request under way has been answered or dropped, so
    // nothing the answers reach is used any more. Later calls do nothing.
    void stop();

    int port() const;
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;
    // baseUrl() + path
    QString url(const QString& path) const;

    // Answers every request for `path` (any method) with `reply`.
    void reply(const QString& path, const ScriptedReply& reply);
    // Answers with whatever `fn` makes of the request (runs on a server thread).
    void replyWith(const QString& path, std::function<ScriptedReply(const RecordedRequest&)> fn);
    // Asks `fn` about every request that no script or directory answers (runs on a server
    // thread); nothing from it is a 404.
    void replyOtherwise(std::function<std::optional<ScriptedReply>(const RecordedRequest&)> fn);
    // Serves the files of `directory` under `urlPrefix` ("/feeds/").
    void serveDirectory(const QString& urlPrefix, const QString& directory);

    QList<RecordedRequest> requests() const;
    int requestCount(const QString& path) const;
    // Forgets the requests recorded so far: a long run in the same process would otherwise
    // hold every one of them.
    void clearRequests();

private:
    struct State;
    std::unique_ptr<State> d;
};

// A plain reply carrying `body`.
ScriptedReply bodyReply(const QByteArray& body, int status = 200);

// A convenience for a permanent or temporary redirect.
ScriptedReply redirectTo(const QString& location, int status = 302);

} // namespace Tickerly::TestSupport

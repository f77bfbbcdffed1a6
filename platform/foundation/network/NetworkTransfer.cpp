#include "platform/foundation/network/NetworkEngineDetail_p.h"

#include "platform/foundation/network/UrlSessionTesting.h"

#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <mutex>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;
using namespace NetworkDetail;

namespace {

struct LoopbackKey {
    QString scheme;
    QString host;
    int port;
    bool operator<(const LoopbackKey& o) const
    {
        return std::tie(scheme, host, port) < std::tie(o.scheme, o.host, o.port);
    }
};

std::mutex testMutex;

std::map<LoopbackKey, int> loopbackMappings;
QByteArray trustedCertificates; // a PEM file's path

std::atomic<int> loopbackOnlySetting { -1 }; // -1: as the environment says

int defaultPort(const QString& scheme) { return scheme == u"https" ? 443 : 80; }

bool isLoopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr))
            return true;
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return in6->sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

bool isSafeHeaderText(const QString& text)
{
    for (QChar c : text) {
        if (c == u'\r' || c == u'\n' || c == QChar(0) || c.unicode() > 0xff)
            return false;
    }
    return true;
}

} // namespace

namespace NetworkDetail {

bool loopbackOnly()
{
    const int setting = loopbackOnlySetting;
    return setting < 0 ? !qEnvironmentVariableIsEmpty("TICKERLY_LOOPBACK_ONLY") : setting == 1;
}

QString originOf(const Url& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme + u"://"_s + url.host().toLower() + u':'
        + QString::number(url.port().value_or(defaultPort(scheme)));
}

bool isLoopbackHost(const QString& host)
{
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        return true;
    const QByteArray text = host.toLatin1();
    in_addr v4 {};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    sockaddr_in6 v6 {};
    v6.sin6_family = AF_INET6;
    if (inet_pton(AF_INET6, text.constData(), &v6.sin6_addr) == 1)
        return isLoopback(reinterpret_cast<const sockaddr*>(&v6));
    return false;
}

std::optional<int> loopbackPortFor(const Url& url)
{
#ifdef TICKERLY_TEST_HOOKS
    static std::once_flag hostMapRead;
    std::call_once(hostMapRead, [] {
        const QString path = qEnvironmentVariable("TICKERLY_TEST_HOST_MAP");
        if (!path.isEmpty())
            UrlSessionTesting::mapHostsFromFile(path);
    });
#endif
    const QString scheme = url.scheme().toLower();
    std::lock_guard lock(testMutex);
    auto it = loopbackMappings.find(
        { scheme, url.host().toLower(), url.port().value_or(defaultPort(scheme)) });
    if (it == loopbackMappings.end())
        return std::nullopt;
    return it->second;
}

Error errorFor(CURLcode code, const char* detail)
{
    const QString text = QString::fromUtf8(detail && *detail ? detail : curl_easy_strerror(code));
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return UrlError::make(UrlError::TimedOut, text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return UrlError::make(UrlError::CannotFindHost, text);
    case CURLE_COULDNT_CONNECT:
        return UrlError::make(UrlError::CannotConnectToHost, text);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return UrlError::make(UrlError::NetworkConnectionLost, text);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return UrlError::make(UrlError::UnsupportedUrl, text);
    case CURLE_URL_MALFORMAT:
        return UrlError::make(UrlError::BadUrl, text);
    case CURLE_BAD_CONTENT_ENCODING:
        return UrlError::make(UrlError::CannotDecodeContentData, text);
    case CURLE_PEER_FAILED_VERIFICATION:
        return UrlError::make(UrlError::ServerCertificateUntrusted, text);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return UrlError::make(UrlError::SecureConnectionFailed, text);
    case CURLE_WEIRD_SERVER_REPLY:
        return UrlError::make(UrlError::BadServerResponse, text);
    default:
        return UrlError::make(UrlError::Unknown, text);
    }
}

void handOnBody(Transfer* t)
{
    // Block by block as they were filled: put together here, each body would be held twice
    // while its pieces wait for the delegate.
    for (QByteArray& piece : t->body.takeBlocks()) {
        if (t->keepsPieces) {
            t->keptSize += piece.size();
            if (t->keptSize <= UrlCache::shared().largestBody())
                t->keptPieces.push_back(piece); // a share, not a copy
            else {
                t->keepsPieces = false;
                t->keptPieces.clear();
            }
        }
        NetworkEngine::deliverData(t->task, std::move(piece));
    }
}

} // namespace NetworkDetail

// ---- test hooks

void UrlSessionTesting::mapToLoopback(
    const QString& scheme, const QString& host, int port, int loopbackPort)
{
    std::lock_guard lock(testMutex);
    loopbackMappings[{ scheme.toLower(), host.toLower(), port }] = loopbackPort;
}

bool UrlSessionTesting::mapHostsFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("host map %s: cannot be read", qPrintable(path));
        return false;
    }
    bool ok = true;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        const QStringList hostAndPort = fields.value(0).split(u':');
        bool portOk = true;
        bool loopbackOk = false;
        const int port = hostAndPort.size() == 2 ? hostAndPort[1].toInt(&portOk) : 0;
        const int loopbackPort = fields.value(1).toInt(&loopbackOk);
        if (fields.size() != 2 || hostAndPort.size() > 2 || !portOk || !loopbackOk) {
            qWarning("host map %s: line not understood: %s", qPrintable(path), qPrintable(line));
            ok = false;
            continue;
        }
        for (const QString& scheme : { u"http"_s, u"https"_s })
            mapToLoopback(scheme, hostAndPort[0], port ? port : defaultPort(scheme), loopbackPort);
    }
    return ok;
}

void UrlSessionTesting::removeLoopbackMappings()
{
    std::lock_guard lock(testMutex);
    loopbackMappings.clear();
}

void UrlSessionTesting::trustCertificates(const QString& pemFile)
{
    std::lock_guard lock(testMutex);
    trustedCertificates = pemFile.toLocal8Bit();
}

void UrlSessionTesting::setLoopbackOnly(bool on) { loopbackOnlySetting = on ? 1 : 0; }

bool UrlSessionTesting::isLoopbackOnly() { return loopbackOnly(); }

void UrlSessionTesting::closeIdleConnections() { NetworkEngine::instance().closeIdleConnections(); }

// ---- one transfer's set-up and callbacks, on the network thread

namespace {

// Clears what an earlier hop left; the deadline is set once, at the first.
void resetForHop(Transfer* t)
{
    t->parser = {};
    t->redirectCandidate = false;
    t->redirectBody.clear();
    t->errorBuffer[0] = 0;
    t->lastActivity = Clock::now();
    if (!t->deadline)
        t->deadline = t->lastActivity
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(t->resourceTimeout));
    t->lastDownloaded = t->lastUploaded = 0;
    t->hopRequestTime = UrlCache::now();
    t->keepsPieces = t->streams && t->cacheable;
    t->keptPieces.clear();
    t->keptSize = 0;
}

// The address handed to curl: the URL without its fragment, or plain HTTP when a test maps its
// host to the loopback server, whose route then goes to `t->connectTo`.
QString wireAddress(Transfer* t)
{
    const Url& url = t->request.url;
    const QString scheme = url.scheme().toLower();
    QString wire = url.absoluteString();
    if (url.hasFragment())
        wire.truncate(wire.indexOf(u'#'));

    const std::optional<int> loopbackPort = loopbackPortFor(url);
    if (loopbackPort) {
        // Plain HTTP to the loopback server; the URL's own host and port stay in the request.
        wire = u"http"_s + wire.mid(scheme.size());
        const QString host = url.host().contains(u':') ? u'[' + url.host() + u']' : url.host();
        const QString entry = host + u':' + QString::number(url.port().value_or(80))
            + u":127.0.0.1:"_s + QString::number(*loopbackPort);
        t->connectTo = curl_slist_append(nullptr, entry.toUtf8().constData());
    }
    return wire;
}

// Header fields: the session's, then the request's over them.
void appendHeaderLines(Transfer* t)
{
    const Url& url = t->request.url;
    HttpHeaderFields fields = t->sessionHeaders;
    for (const auto& [name, value] : t->request.headerFields.fields())
        fields.setValue(name, value);
    if (t->cachePolicy == UrlCachePolicy::ReloadIgnoringLocalAndRemoteCache) {
        if (!fields.contains(u"Cache-Control"_s))
            fields.setValue(u"Cache-Control"_s, u"no-cache"_s);
        if (!fields.contains(u"Pragma"_s))
            fields.setValue(u"Pragma"_s, u"no-cache"_s);
    }
    if (originOf(url) != t->authorizationOrigin)
        fields.remove(u"Authorization"_s);
    if (t->revalidating) {
        // Whether the kept answer still stands; a 304 then says it does.
        const HttpHeaderFields& kept = t->revalidating->response.headerFields;
        if (kept.contains(u"ETag"_s))
            fields.setValue(u"If-None-Match"_s, kept.value(u"ETag"_s));
        if (kept.contains(u"Last-Modified"_s))
            fields.setValue(u"If-Modified-Since"_s, kept.value(u"Last-Modified"_s));
    }
    for (const auto& [name, value] : fields.fields()) {
        if (name.isEmpty() || name.contains(u':') || name.contains(u' ') || !isSafeHeaderText(name)
            || !isSafeHeaderText(value))
            continue; // never let a field break the request apart
        const QByteArray line
            = value.isEmpty() ? name.toLatin1() + ';' : name.toLatin1() + ": " + value.toLatin1();
        t->headerList = curl_slist_append(t->headerList, line.constData());
    }
    t->headerList = curl_slist_append(t->headerList, "Expect:");
}

void setConnectionOptions(CURL* e, Transfer* t, const QString& wire)
{
    curl_easy_setopt(e, CURLOPT_URL, wire.toUtf8().constData());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Tickerly/0.1");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);
    if (t->connectTo)
        curl_easy_setopt(e, CURLOPT_CONNECT_TO, t->connectTo);
    // Over TLS a second transfer to a host whose first connection is still being made waits to
    // share it, should the host speak HTTP/2 (known once the handshake is done). Plain HTTP
    // never multiplexes: waiting there would cost a whole answer.
    if (wire.startsWith(u"https:"_s, Qt::CaseInsensitive))
        curl_easy_setopt(e, CURLOPT_PIPEWAIT, 1L);
    {
        std::lock_guard lock(testMutex);
        if (!trustedCertificates.isEmpty())
            curl_easy_setopt(e, CURLOPT_CAINFO, trustedCertificates.constData());
    }
    const bool onlyLoopback = loopbackOnly();
    t->loopbackOnly = onlyLoopback;
    if (onlyLoopback)
        curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    const long connectMs = static_cast<long>(std::clamp(t->timeout, 0.001, 86400.0) * 1000);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
}

void setMethod(CURL* e, const UrlRequest& request)
{
    const QString method = request.httpMethod.isEmpty() ? u"GET"_s : request.httpMethod;
    if (method == u"GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (method == u"HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        if (method == u"POST" || !request.httpBody.isEmpty()) {
            curl_easy_setopt(
                e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody.size()));
            curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, request.httpBody.constData());
        }
        if (method != u"POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    }
}

} // namespace

bool NetworkEngine::Private::activate(Transfer* t)
{
    resetForHop(t);
    const QString wire = wireAddress(t);
    appendHeaderLines(t);

    CURL* e = curl_easy_init();
    if (!e)
        return false;
    t->easy = e;
    setConnectionOptions(e, t, wire);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Private::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Private::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Private::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &Private::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, t);
    setMethod(e, t->request);
    return curl_multi_add_handle(multi, e) == CURLM_OK;
}

size_t NetworkEngine::Private::onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = Clock::now();
    t->parser.feedLine(QByteArrayView(data, static_cast<qsizetype>(n)));
    if (t->parser.complete && !t->redirectCandidate) {
        const int status = t->parser.statusCode;
        t->redirectCandidate
            = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
            && t->parser.fields.contains(u"Location"_s);
        UrlResponse response;
        response.url = t->request.url;
        response.statusCode = status;
        response.headerFields = t->parser.fields;
        bool ok = false;
        const QString lengthText = t->parser.fields.value(u"Content-Length"_s).trimmed();
        const qint64 length = lengthText.toLongLong(&ok);
        if (ok && length >= 0 && !t->parser.fields.contains(u"Content-Encoding"_s))
            response.expectedContentLength = length;
        // A length too large to count would let a short body pass as whole.
        if (!ok && !lengthText.isEmpty()
            && std::all_of(
                lengthText.cbegin(), lengthText.cend(), [](QChar c) { return c.isDigit(); })) {
            t->lengthOutOfRange = true;
            return 0;
        }
        // A body of announced length is made room for once; one longer than would be kept gets
        // none, as it fails at the cap. Pieces handed on as they come need no room for the whole.
        if (!t->redirectCandidate && !t->streams && t->request.httpMethod != u"HEAD"
            && status != 204 && status != 304 && response.expectedContentLength <= t->cap())
            t->body.expect(response.expectedContentLength);
        std::lock_guard lock(t->task->d->mutex);
        t->task->d->response = std::move(response);
    }
    return n;
}

size_t NetworkEngine::Private::onWrite(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = Clock::now();
    if (t->redirectCandidate) {
        if (t->redirectBody.size() + static_cast<qint64>(n) > t->cap()) {
            t->overCap = true;
            return 0;
        }
        t->redirectBody.append(data, static_cast<qsizetype>(n));
        return n;
    }
    const qint64 room = t->cap() - t->received;
    const qint64 take = std::min<qint64>(room, static_cast<qint64>(n));
    if (take > 0) {
        t->body.append(data, static_cast<qsizetype>(take));
        t->received += take;
        t->task->d->received = t->received;
    }
    if (take < static_cast<qint64>(n)) {
        t->overCap = true;
        return 0;
    }
    // Hand long bodies on in pieces rather than all at the end of a loop turn.
    if (t->streams && t->body.size() >= 256 * 1024) {
        handOnBody(t);
    }
    return n;
}

int NetworkEngine::Private::onProgress(
    void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto* t = static_cast<Transfer*>(user);
    if (downloaded != t->lastDownloaded || uploaded != t->lastUploaded) {
        t->lastDownloaded = downloaded;
        t->lastUploaded = uploaded;
        t->lastActivity = Clock::now();
    }
    return 0;
}

curl_socket_t NetworkEngine::Private::onOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* t = static_cast<Transfer*>(user);
    t->lastActivity = Clock::now();
    if (t->loopbackOnly && !isLoopback(&address->addr)) {
        t->refusedAddress = true;
        return CURL_SOCKET_BAD;
    }
    return ::socket(address->family, address->socktype, address->protocol);
}

} // namespace Tickerly::Foundation

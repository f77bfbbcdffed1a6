#include "platform/foundation/NetworkEngine_p.h"

#include "platform/foundation/HttpResponseParser_p.h"
#include "platform/foundation/UrlSessionTesting.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using Clock = std::chrono::steady_clock;

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
std::atomic<int> loopbackOnlySetting { -1 }; // -1: as the environment says

bool loopbackOnly()
{
    const int setting = loopbackOnlySetting;
    return setting < 0 ? !qEnvironmentVariableIsEmpty("TICKERLY_LOOPBACK_ONLY") : setting == 1;
}

int defaultPort(const QString& scheme)
{
    return scheme == u"https" ? 443 : 80;
}

QString originOf(const Url& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme + u"://"_s + url.host().toLower() + u':' + QString::number(url.port().value_or(defaultPort(scheme)));
}

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

// Whether `host` names this machine without asking a name server.
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
    const QString scheme = url.scheme().toLower();
    std::lock_guard lock(testMutex);
    auto it = loopbackMappings.find({ scheme, url.host().toLower(), url.port().value_or(defaultPort(scheme)) });
    if (it == loopbackMappings.end())
        return std::nullopt;
    return it->second;
}

bool isSafeHeaderText(const QString& text)
{
    for (QChar c : text) {
        if (c == u'\r' || c == u'\n' || c == QChar(0) || c.unicode() > 0xff)
            return false;
    }
    return true;
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

} // namespace

// ---- test hooks

void UrlSessionTesting::mapToLoopback(const QString& scheme, const QString& host, int port, int loopbackPort)
{
    std::lock_guard lock(testMutex);
    loopbackMappings[{ scheme.toLower(), host.toLower(), port }] = loopbackPort;
}

void UrlSessionTesting::removeLoopbackMappings()
{
    std::lock_guard lock(testMutex);
    loopbackMappings.clear();
}

void UrlSessionTesting::setLoopbackOnly(bool on)
{
    loopbackOnlySetting = on ? 1 : 0;
}

bool UrlSessionTesting::isLoopbackOnly()
{
    return loopbackOnly();
}

void UrlSessionTesting::closeIdleConnections()
{
    NetworkEngine::instance().closeIdleConnections();
}

// ---- the engine

namespace {

// One task's download on the network thread, across its redirects.
struct Transfer {
    enum class Phase { Waiting, Active, Parked };

    std::shared_ptr<UrlSessionDataTask> task;
    UrlRequest request; // the hop under way
    QString authorizationOrigin; // the only origin "Authorization" is sent to
    QString previousScheme; // of the hop before, for the https-to-http rule
    double timeout = 60;
    UrlCachePolicy cachePolicy = UrlCachePolicy::UseProtocolDefault;
    HttpHeaderFields sessionHeaders;
    bool streams = false; // delegate task: the body goes out in chunks
    int redirects = 0;

    Phase phase = Phase::Waiting;
    QString hostKey;
    quint64 sequence = 0;

    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    curl_slist* connectTo = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    HttpResponseParser parser;
    bool redirectCandidate = false;
    QByteArray body; // whole body (completion handler) or the chunk not yet handed on (delegate)
    QByteArray redirectBody;
    qint64 received = 0;
    bool overCap = false;
    bool refusedAddress = false;
    bool loopbackOnly = false;
    Clock::time_point lastActivity;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;

    qint64 cap() const { return std::max<qint64>(0, request.maximumBodySize); }
};

struct Host {
    int active = 0;
    std::deque<Transfer*> waiting;
};

struct Command {
    enum class Kind { Start, Cancel, Continue, CloseIdle } kind;
    std::shared_ptr<UrlSessionDataTask> task;
    std::optional<UrlRequest> request;
};

} // namespace

struct NetworkEngine::Private {
    CURLM* multi = nullptr;
    std::thread thread;

    std::mutex mutex; // guards the fields below and the replacement of `multi`
    std::vector<Command> commands;
    bool stopping = false;
    std::condition_variable idleClosed;
    quint64 closeRequests = 0;
    quint64 closesDone = 0;

    // Network thread only.
    std::unordered_map<UrlSessionDataTask*, std::unique_ptr<Transfer>> transfers;
    std::unordered_map<QString, Host> hosts;
    std::map<quint64, Transfer*> eligible; // the head of each waiting line whose host has room
    int active = 0;
    quint64 nextSequence = 1;

    void run();
    void handle(Command& command);
    void beginHop(Transfer* t, UrlRequest request);
    void refreshHost(const QString& key);
    void startEligible();
    bool activate(Transfer* t);
    void release(Transfer* t);
    void finish(Transfer* t, CURLcode code);
    void redirect(Transfer* t);
    void complete(Transfer* t, std::optional<QByteArray> body, std::optional<Error> error);
    void flush(Transfer* t);
    void checkTimeouts();
    int waitMilliseconds() const;

    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static size_t onWrite(char* data, size_t size, size_t count, void* user);
    static int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);
    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
};

NetworkEngine& NetworkEngine::instance()
{
    // Never destroyed: the thread is stopped at exit, before the TLS library cleans up.
    static NetworkEngine* engine = [] {
        auto* e = new NetworkEngine;
        std::atexit([] {
            auto* p = NetworkEngine::instance().d.get();
            {
                std::lock_guard lock(p->mutex);
                if (p->stopping)
                    return;
                p->stopping = true;
                curl_multi_wakeup(p->multi);
            }
            p->idleClosed.notify_all();
            if (p->thread.joinable())
                p->thread.join();
        });
        return e;
    }();
    return *engine;
}

NetworkEngine::NetworkEngine()
    : d(std::make_unique<Private>())
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    d->multi = curl_multi_init();
    curl_multi_setopt(d->multi, CURLMOPT_MAXCONNECTS, 64L);
    d->thread = std::thread([p = d.get()] { p->run(); });
}

NetworkEngine::~NetworkEngine() = default;

void NetworkEngine::start(const std::shared_ptr<UrlSessionDataTask>& task)
{
    {
        std::lock_guard lock(d->mutex);
        d->commands.push_back({ Command::Kind::Start, task, std::nullopt });
        curl_multi_wakeup(d->multi);
    }
}

void NetworkEngine::cancel(const std::shared_ptr<UrlSessionDataTask>& task)
{
    {
        std::lock_guard lock(d->mutex);
        d->commands.push_back({ Command::Kind::Cancel, task, std::nullopt });
        curl_multi_wakeup(d->multi);
    }
}

void NetworkEngine::continueRedirect(const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlRequest> request)
{
    {
        std::lock_guard lock(d->mutex);
        d->commands.push_back({ Command::Kind::Continue, task, std::move(request) });
        curl_multi_wakeup(d->multi);
    }
}

void NetworkEngine::closeIdleConnections()
{
    std::unique_lock lock(d->mutex);
    if (d->stopping)
        return;
    d->commands.push_back({ Command::Kind::CloseIdle, nullptr, std::nullopt });
    const quint64 ticket = ++d->closeRequests;
    curl_multi_wakeup(d->multi);
    d->idleClosed.wait(lock, [&] { return d->closesDone >= ticket || d->stopping; });
}

void NetworkEngine::Private::run()
{
    for (;;) {
        std::vector<Command> batch;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return;
            batch.swap(commands);
        }
        for (auto& command : batch)
            handle(command);
        startEligible();

        int running = 0;
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer* t = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
            if (t)
                finish(t, message->data.result);
        }
        for (auto& [key, t] : transfers) {
            if (t->phase == Transfer::Phase::Active && t->streams && !t->body.isEmpty())
                flush(t.get());
        }
        checkTimeouts();
        startEligible();
        curl_multi_poll(multi, nullptr, 0, waitMilliseconds(), nullptr);
    }
}

void NetworkEngine::Private::handle(Command& command)
{
    if (command.kind == Command::Kind::CloseIdle) {
        // A new multi handle forgets the old one's cached connections; only done when idle.
        if (transfers.empty()) {
            CURLM* fresh = curl_multi_init();
            curl_multi_setopt(fresh, CURLMOPT_MAXCONNECTS, 64L);
            CURLM* old = nullptr;
            {
                std::lock_guard lock(mutex);
                old = multi;
                multi = fresh;
            }
            curl_multi_cleanup(old);
        }
        {
            std::lock_guard lock(mutex);
            ++closesDone;
        }
        idleClosed.notify_all();
        return;
    }
    UrlSessionDataTask* key = command.task.get();
    auto found = transfers.find(key);
    switch (command.kind) {
    case Command::Kind::Start: {
        if (found != transfers.end())
            return;
        auto t = std::make_unique<Transfer>();
        t->task = command.task;
        std::shared_ptr<UrlSession> session;
        {
            std::lock_guard lock(key->d->mutex);
            session = key->d->session;
            t->streams = !key->d->handler;
        }
        if (!session) // cannot happen for a running task; nothing to report to
            return;
        const UrlSessionConfiguration& configuration = session->configuration();
        const UrlRequest& request = key->originalRequest();
        t->timeout = request.timeoutInterval.value_or(configuration.timeoutIntervalForRequest);
        if (!(t->timeout > 0))
            t->timeout = 60; // a zero, negative or undefined interval would fail every task at once
        t->cachePolicy = request.cachePolicy == UrlCachePolicy::UseProtocolDefault ? configuration.requestCachePolicy
                                                                                    : request.cachePolicy;
        t->sessionHeaders = configuration.httpAdditionalHeaders;
        t->authorizationOrigin = originOf(request.url);
        Transfer* raw = t.get();
        transfers.emplace(key, std::move(t));
        beginHop(raw, request);
        return;
    }
    case Command::Kind::Cancel: {
        if (found == transfers.end())
            return;
        Transfer* t = found->second.get();
        if (t->phase == Transfer::Phase::Active && t->streams)
            flush(t);
        complete(t, std::nullopt, UrlError::make(UrlError::Cancelled));
        return;
    }
    case Command::Kind::Continue: {
        if (found == transfers.end() || found->second->phase != Transfer::Phase::Parked)
            return;
        Transfer* t = found->second.get();
        if (command.request) {
            beginHop(t, std::move(*command.request));
            return;
        }
        // The delegate stops at the redirect: its answer is the task's answer.
        QByteArray body = std::move(t->redirectBody);
        if (t->streams) {
            NetworkEngine::deliverData(t->task, body);
            body.clear();
        }
        complete(t, body, std::nullopt);
        return;
    }
    case Command::Kind::CloseIdle:
        return;
    }
}

// Starts (or restarts, after a redirect) the transfer for `request`, or ends the task when the
// request may not be loaded.
void NetworkEngine::Private::beginHop(Transfer* t, UrlRequest request)
{
    const QString scheme = request.url.scheme().toLower();
    std::optional<Error> refusal;
    if (!request.url.isValid() || !request.url.isAbsolute())
        refusal = UrlError::make(UrlError::BadUrl, request.url.absoluteString());
    else if (scheme != u"http" && scheme != u"https")
        refusal = UrlError::make(UrlError::UnsupportedUrl, request.url.absoluteString());
    else if (request.url.host().isEmpty())
        refusal = UrlError::make(UrlError::BadUrl, request.url.absoluteString());
    else if (t->previousScheme == u"https" && scheme == u"http")
        refusal = UrlError::make(UrlError::SecureConnectionRequired, request.url.absoluteString());
    else if (loopbackOnly() && !isLoopbackHost(request.url.host()) && !loopbackPortFor(request.url))
        // Refused before any name server is asked.
        refusal = UrlError::make(UrlError::CannotConnectToHost, u"refused: not a loopback address"_s);
    {
        std::lock_guard lock(t->task->d->mutex);
        t->task->d->currentRequest = request;
    }
    t->request = std::move(request);
    if (refusal) {
        complete(t, std::nullopt, refusal);
        return;
    }
    t->previousScheme = scheme;
    t->phase = Transfer::Phase::Waiting;
    t->hostKey = originOf(t->request.url);
    t->sequence = nextSequence++;
    Host& host = hosts[t->hostKey];
    host.waiting.push_back(t);
    refreshHost(t->hostKey);
}

void NetworkEngine::Private::refreshHost(const QString& key)
{
    auto it = hosts.find(key);
    if (it == hosts.end())
        return;
    Host& host = it->second;
    if (host.waiting.empty()) {
        if (host.active == 0)
            hosts.erase(it);
        return;
    }
    Transfer* head = host.waiting.front();
    if (host.active < NetworkEngine::maximumTransfersPerHost)
        eligible.emplace(head->sequence, head);
    else
        eligible.erase(head->sequence);
}

void NetworkEngine::Private::startEligible()
{
    while (active < NetworkEngine::maximumTransfers && !eligible.empty()) {
        Transfer* t = eligible.begin()->second;
        eligible.erase(eligible.begin());
        Host& host = hosts[t->hostKey];
        host.waiting.pop_front();
        ++host.active;
        ++active;
        t->phase = Transfer::Phase::Active;
        const QString key = t->hostKey;
        if (!activate(t)) {
            release(t);
            complete(t, std::nullopt, UrlError::make(UrlError::Unknown, u"could not start the transfer"_s));
        }
        refreshHost(key);
    }
}

bool NetworkEngine::Private::activate(Transfer* t)
{
    t->parser = {};
    t->redirectCandidate = false;
    t->redirectBody.clear();
    t->errorBuffer[0] = 0;
    t->lastActivity = Clock::now();
    t->lastDownloaded = t->lastUploaded = 0;

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
        const QString entry = host + u':' + QString::number(url.port().value_or(80)) + u":127.0.0.1:"_s
            + QString::number(*loopbackPort);
        t->connectTo = curl_slist_append(nullptr, entry.toUtf8().constData());
    }

    // Header fields: the session's, then the request's over them.
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
    for (const auto& [name, value] : fields.fields()) {
        if (name.isEmpty() || name.contains(u':') || name.contains(u' ') || !isSafeHeaderText(name)
            || !isSafeHeaderText(value))
            continue; // never let a field break the request apart
        const QByteArray line = value.isEmpty() ? name.toLatin1() + ';' : name.toLatin1() + ": " + value.toLatin1();
        t->headerList = curl_slist_append(t->headerList, line.constData());
    }
    t->headerList = curl_slist_append(t->headerList, "Expect:");

    CURL* e = curl_easy_init();
    if (!e)
        return false;
    t->easy = e;
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
    const bool onlyLoopback = loopbackOnly();
    t->loopbackOnly = onlyLoopback;
    if (onlyLoopback)
        curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    const long connectMs = static_cast<long>(std::clamp(t->timeout, 0.001, 86400.0) * 1000);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Private::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Private::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Private::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &Private::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, t);

    const QString method = t->request.httpMethod.isEmpty() ? u"GET"_s : t->request.httpMethod;
    if (method == u"GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (method == u"HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        if (method == u"POST" || !t->request.httpBody.isEmpty()) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t->request.httpBody.size()));
            curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, t->request.httpBody.constData());
        }
        if (method != u"POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    }
    return curl_multi_add_handle(multi, e) == CURLM_OK;
}

// Gives back the transfer's slot and its easy handle.
void NetworkEngine::Private::release(Transfer* t)
{
    if (t->easy) {
        curl_multi_remove_handle(multi, t->easy);
        curl_easy_cleanup(t->easy);
        t->easy = nullptr;
    }
    curl_slist_free_all(t->headerList);
    t->headerList = nullptr;
    curl_slist_free_all(t->connectTo);
    t->connectTo = nullptr;
    if (t->phase == Transfer::Phase::Active) {
        auto it = hosts.find(t->hostKey);
        if (it != hosts.end())
            --it->second.active;
        --active;
        refreshHost(t->hostKey);
    } else if (t->phase == Transfer::Phase::Waiting) {
        auto it = hosts.find(t->hostKey);
        if (it != hosts.end()) {
            auto& waiting = it->second.waiting;
            if (!waiting.empty() && waiting.front() == t)
                eligible.erase(t->sequence);
            waiting.erase(std::remove(waiting.begin(), waiting.end(), t), waiting.end());
            refreshHost(t->hostKey);
        }
    }
    t->phase = Transfer::Phase::Parked;
}

void NetworkEngine::Private::finish(Transfer* t, CURLcode code)
{
    if (code == CURLE_OK && t->redirectCandidate) {
        release(t);
        redirect(t);
        return;
    }
    if (t->streams)
        flush(t);
    if (code == CURLE_OK && !t->parser.complete) {
        complete(t, std::nullopt, UrlError::make(UrlError::BadServerResponse));
        return;
    }
    if (code == CURLE_OK) {
        complete(t, std::move(t->body), std::nullopt);
        return;
    }
    if (t->overCap)
        complete(t, std::nullopt, UrlError::make(UrlError::DataLengthExceedsMaximum));
    else if (t->refusedAddress)
        complete(t, std::nullopt,
            UrlError::make(UrlError::CannotConnectToHost, u"refused: not a loopback address"_s));
    else
        complete(t, std::nullopt, errorFor(code, t->errorBuffer));
}

void NetworkEngine::Private::redirect(Transfer* t)
{
    const int status = t->parser.statusCode;
    const std::optional<Url> next = Url::resolved(t->parser.fields.value(u"Location"_s), t->request.url);
    if (!next) {
        complete(t, std::nullopt, UrlError::make(UrlError::BadServerResponse, u"unusable redirect address"_s));
        return;
    }
    if (++t->redirects > NetworkEngine::maximumRedirects) {
        complete(t, std::nullopt, UrlError::make(UrlError::TooManyRedirects));
        return;
    }
    UrlRequest request = t->request;
    request.url = *next;
    const QString method = request.httpMethod;
    if (status == 303 ? method != u"HEAD" : ((status == 301 || status == 302) && method == u"POST")) {
        request.httpMethod = u"GET"_s;
        request.httpBody.clear();
        request.headerFields.remove(u"Content-Type"_s);
        request.headerFields.remove(u"Content-Length"_s);
    }
    if (originOf(*next) != originOf(t->request.url))
        request.headerFields.remove(u"Authorization"_s);

    UrlResponse response;
    {
        std::lock_guard lock(t->task->d->mutex);
        response = t->task->d->response.value_or(UrlResponse {});
    }
    if (NetworkEngine::hasDelegate(*t->task)) {
        t->phase = Transfer::Phase::Parked;
        NetworkEngine::askRedirect(t->task, std::move(response), std::move(request));
        return;
    }
    beginHop(t, std::move(request));
}

void NetworkEngine::Private::complete(Transfer* t, std::optional<QByteArray> body, std::optional<Error> error)
{
    release(t);
    auto task = t->task;
    transfers.erase(task.get());
    NetworkEngine::deliverCompletion(task, std::move(body), std::move(error));
}

void NetworkEngine::Private::flush(Transfer* t)
{
    if (t->body.isEmpty())
        return;
    NetworkEngine::deliverData(t->task, std::move(t->body));
    t->body = QByteArray();
}

void NetworkEngine::Private::checkTimeouts()
{
    const auto now = Clock::now();
    std::vector<Transfer*> expired;
    for (auto& [key, t] : transfers) {
        if (t->phase != Transfer::Phase::Active)
            continue;
        if (now - t->lastActivity >= std::chrono::duration<double>(t->timeout))
            expired.push_back(t.get());
    }
    for (Transfer* t : expired) {
        if (t->streams)
            flush(t);
        complete(t, std::nullopt, UrlError::make(UrlError::TimedOut));
    }
}

int NetworkEngine::Private::waitMilliseconds() const
{
    const auto now = Clock::now();
    auto wait = std::chrono::milliseconds(1000);
    for (const auto& [key, t] : transfers) {
        if (t->phase != Transfer::Phase::Active)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              t->lastActivity + std::chrono::duration<double>(t->timeout) - now)
            + std::chrono::milliseconds(1);
        wait = std::min(wait, std::max(left, std::chrono::milliseconds(0)));
    }
    if (!eligible.empty() && active < NetworkEngine::maximumTransfers)
        wait = std::chrono::milliseconds(0);
    return static_cast<int>(wait.count());
}

size_t NetworkEngine::Private::onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = Clock::now();
    t->parser.feedLine(QByteArrayView(data, static_cast<qsizetype>(n)));
    if (t->parser.complete && !t->redirectCandidate) {
        const int status = t->parser.statusCode;
        t->redirectCandidate = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308)
            && t->parser.fields.contains(u"Location"_s);
        UrlResponse response;
        response.url = t->request.url;
        response.statusCode = status;
        response.headerFields = t->parser.fields;
        bool ok = false;
        const qint64 length = t->parser.fields.value(u"Content-Length"_s).toLongLong(&ok);
        if (ok && length >= 0 && !t->parser.fields.contains(u"Content-Encoding"_s))
            response.expectedContentLength = length;
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
        NetworkEngine::deliverData(t->task, std::move(t->body));
        t->body = QByteArray();
    }
    return n;
}

int NetworkEngine::Private::onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
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

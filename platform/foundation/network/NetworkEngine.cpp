#include "platform/foundation/network/NetworkEngineDetail_p.h"

#include "platform/foundation/network/UrlSessionTesting.h"

#include <algorithm>
#include <cstdlib>

#include <sys/resource.h>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;
using namespace NetworkDetail;

namespace {
std::atomic<NetworkEngine*> madeEngine = nullptr;
std::atomic<int> transferLimitSetting { 0 }; // 0: as the descriptors allow
std::atomic<quint64> loopRounds = 0;
}

int NetworkEngine::transferLimitFor(qint64 descriptors)
{
    if (descriptors < 0)
        return transferCap;
    const qint64 room
        = (descriptors - keptConnections - descriptorsKeptForFiles) / descriptorsPerTransfer;
    // Some downloads still go on under the tightest limits, a few at a time.
    return int(std::clamp<qint64>(room, 8, transferCap));
}

quint64 UrlSessionTesting::networkLoopRounds() { return loopRounds.load(); }

int NetworkEngine::maximumTransfers()
{
    if (const int set = transferLimitSetting.load(); set > 0)
        return set;
    static const int limit = [] {
        rlimit files {};
        if (getrlimit(RLIMIT_NOFILE, &files) != 0)
            return transferLimitFor(1024);
        return transferLimitFor(files.rlim_cur == RLIM_INFINITY
                ? -1
                : qint64(std::min<rlim_t>(files.rlim_cur, 1 << 30)));
    }();
    return limit;
}

int UrlSessionTesting::transferLimitFor(qint64 descriptors)
{
    return NetworkEngine::transferLimitFor(descriptors);
}

void UrlSessionTesting::setMaximumTransfers(int limit)
{
    transferLimitSetting = std::max(limit, 0);
}

NetworkEngine& NetworkEngine::instance()
{
    // Never destroyed: the thread is stopped at exit, before the TLS library cleans up.
    static NetworkEngine* engine = [] {
        auto* e = new NetworkEngine;
        madeEngine = e;
        std::atexit(NetworkEngine::stopIfMade);
        return e;
    }();
    return *engine;
}

void NetworkEngine::stopIfMade()
{
    if (NetworkEngine* engine = madeEngine.load())
        engine->stop();
}

void NetworkEngine::stop()
{
    {
        std::lock_guard lock(d->mutex);
        if (d->stopping)
            return;
        d->stopping = true;
        curl_multi_wakeup(d->multi);
    }
    d->idleClosed.notify_all();
    if (d->thread.joinable())
        d->thread.join();
}

NetworkEngine::NetworkEngine()
    : d(std::make_unique<Private>())
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    d->multi = curl_multi_init();
    Private::configure(d->multi);
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

void NetworkEngine::continueRedirect(
    const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlRequest> request)
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

// Transfers to one host share its connections where it speaks HTTP/2. No connection cap per
// host in libcurl: it counts every host behind one proxy as one.
void NetworkEngine::Private::configure(CURLM* multi)
{
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, long(NetworkEngine::keptConnections));
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
}

void NetworkEngine::Private::run()
{
    for (;;) {
        ++loopRounds;
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
        closeIdle();
        return;
    }
    UrlSessionDataTask* key = command.task.get();
    auto found = transfers.find(key);
    Transfer* t = found == transfers.end() ? nullptr : found->second.get();
    switch (command.kind) {
    case Command::Kind::Start:
        if (!t)
            start(command.task);
        return;
    case Command::Kind::Cancel:
        if (t)
            cancel(t);
        return;
    case Command::Kind::Continue:
        if (t && t->phase == Transfer::Phase::Parked)
            continueParked(t, command.request);
        return;
    case Command::Kind::CloseIdle:
        return;
    }
}

void NetworkEngine::Private::closeIdle()
{
    // A new multi handle forgets the old one's cached connections; only done when idle.
    if (transfers.empty()) {
        CURLM* fresh = curl_multi_init();
        configure(fresh);
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
}

void NetworkEngine::Private::start(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlSessionDataTask* key = task.get();
    auto t = std::make_unique<Transfer>();
    t->task = task;
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
    // Endless in effect, yet still countable in milliseconds: the wait of the loop is
    // worked out from it.
    t->timeout = std::min(t->timeout, 1e9);
    t->resourceTimeout = configuration.timeoutIntervalForResource > 0
        ? std::min(configuration.timeoutIntervalForResource, 1e9)
        : 180;
    t->cachePolicy = request.cachePolicy == UrlCachePolicy::UseProtocolDefault
        ? configuration.requestCachePolicy
        : request.cachePolicy;
    t->sessionHeaders = configuration.httpAdditionalHeaders;
    t->authorizationOrigin = originOf(request.url);
    Transfer* raw = t.get();
    transfers.emplace(key, std::move(t));
    beginHop(raw, request);
}

void NetworkEngine::Private::cancel(Transfer* t)
{
    if (t->phase == Transfer::Phase::Active && t->streams)
        flush(t);
    complete(t, std::nullopt, UrlError::make(UrlError::Cancelled));
}

// A transfer parked at a redirect goes on with `request`, or ends with the redirect's answer.
void NetworkEngine::Private::continueParked(Transfer* t, std::optional<UrlRequest>& request)
{
    if (request) {
        beginHop(t, std::move(*request));
        return;
    }
    // The delegate stops at the redirect: its answer is the task's answer.
    QByteArray body = std::move(t->redirectBody);
    if (t->streams) {
        NetworkEngine::deliverData(t->task, body);
        body.clear();
    }
    complete(t, body, std::nullopt);
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
        refusal
            = UrlError::make(UrlError::CannotConnectToHost, u"refused: not a loopback address"_s);
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
    t->cacheable = t->cachePolicy == UrlCachePolicy::UseProtocolDefault && cacheApplies(*t);
    t->revalidating.reset();
    if (t->cacheable) {
        UrlCache::Lookup kept = UrlCache::shared().lookup(t->request);
        if (kept.entry && kept.fresh) {
            answerFromCache(t, kept.entry);
            return;
        }
        t->revalidating = std::move(kept.entry);
    }
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
    const int room = multiplexingHosts.count(key) ? NetworkEngine::maximumStreamsPerHost
                                                  : NetworkEngine::maximumTransfersPerHost;
    if (host.active < room)
        eligible.emplace(head->sequence, head);
    else
        eligible.erase(head->sequence);
}

void NetworkEngine::Private::startEligible()
{
    while (active < NetworkEngine::maximumTransfers() && !eligible.empty()) {
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
            complete(t, std::nullopt,
                UrlError::make(UrlError::Unknown, u"could not start the transfer"_s));
        }
        refreshHost(key);
    }
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
    long version = CURL_HTTP_VERSION_NONE;
    if (t->easy && curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version) == CURLE_OK
        && version != CURL_HTTP_VERSION_NONE) {
        if (version >= CURL_HTTP_VERSION_2_0)
            multiplexingHosts.insert(t->hostKey);
        else
            multiplexingHosts.erase(t->hostKey);
    }
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
    if (code == CURLE_OK && t->revalidating && t->parser.statusCode == 304) {
        answerFromCache(t,
            UrlCache::shared().refresh(
                t->request, t->revalidating, t->parser.fields, t->hopRequestTime, UrlCache::now()));
        return;
    }
    if (code == CURLE_OK) {
        QByteArray body = t->body.take();
        updateCache(t, body);
        complete(t, std::move(body), std::nullopt);
        return;
    }
    if (t->overCap)
        complete(t, std::nullopt, UrlError::make(UrlError::DataLengthExceedsMaximum));
    else if (t->lengthOutOfRange)
        complete(t, std::nullopt,
            UrlError::make(UrlError::BadServerResponse, u"the announced length is out of range"_s));
    else if (code == CURLE_OUT_OF_MEMORY && !t->parser.complete)
        // What the network library says of a header line past its limit.
        complete(t, std::nullopt,
            UrlError::make(
                UrlError::BadServerResponse, u"a header line of the answer is too long"_s));
    else if (t->refusedAddress)
        complete(t, std::nullopt,
            UrlError::make(UrlError::CannotConnectToHost, u"refused: not a loopback address"_s));
    else
        complete(t, std::nullopt, errorFor(code, t->errorBuffer));
}

void NetworkEngine::Private::redirect(Transfer* t)
{
    const int status = t->parser.statusCode;
    const std::optional<Url> next
        = Url::resolved(t->parser.fields.value(u"Location"_s), t->request.url);
    if (!next) {
        complete(t, std::nullopt,
            UrlError::make(UrlError::BadServerResponse, u"unusable redirect address"_s));
        return;
    }
    if (++t->redirects > NetworkEngine::maximumRedirects) {
        complete(t, std::nullopt, UrlError::make(UrlError::TooManyRedirects));
        return;
    }
    UrlRequest request = t->request;
    request.url = *next;
    const QString method = request.httpMethod;
    if (status == 303 ? method != u"HEAD"
                      : ((status == 301 || status == 302) && method == u"POST")) {
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

void NetworkEngine::Private::complete(
    Transfer* t, std::optional<QByteArray> body, std::optional<Error> error)
{
    release(t);
    auto task = t->task;
    transfers.erase(task.get());
    NetworkEngine::deliverCompletion(task, std::move(body), std::move(error));
}

void NetworkEngine::Private::flush(Transfer* t)
{
    if (!t->body.isEmpty())
        handOnBody(t);
}

void NetworkEngine::Private::checkTimeouts()
{
    const auto now = Clock::now();
    std::vector<Transfer*> expired;
    for (auto& [key, t] : transfers) {
        if (t->phase != Transfer::Phase::Active)
            continue;
        if (now - t->lastActivity >= std::chrono::duration<double>(t->timeout)
            || (t->deadline && now >= *t->deadline))
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
        auto end = t->lastActivity
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(t->timeout));
        if (t->deadline)
            end = std::min(end, *t->deadline);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now)
            + std::chrono::milliseconds(1);
        wait = std::min(wait, std::max(left, std::chrono::milliseconds(0)));
    }
    if (!eligible.empty() && active < NetworkEngine::maximumTransfers())
        wait = std::chrono::milliseconds(0);
    return static_cast<int>(wait.count());
}

} // namespace Tickerly::Foundation

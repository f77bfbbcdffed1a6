#pragma once

// Private to the network engine: what its two source files share.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/HttpResponseParser_p.h"
#include "platform/foundation/network/NetworkEngine_p.h"
#include "platform/foundation/network/ReceivedBody.h"
#include "platform/foundation/network/UrlCache_p.h"

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Tickerly::Foundation {

namespace NetworkDetail {

using Clock = std::chrono::steady_clock;

// Whether test programs keep every connection on loopback (see UrlSessionTesting).
bool loopbackOnly();
// The loopback port a test maps the URL's (scheme, host, port) to.
std::optional<int> loopbackPortFor(const Url& url);
// Whether `host` names this machine without asking a name server.
bool isLoopbackHost(const QString& host);
// "scheme://host:port", lower case, with the scheme's default port filled in.
QString originOf(const Url& url);
Error errorFor(CURLcode code, const char* detail);

// One task's download on the network thread, across its redirects.
struct Transfer {
    enum class Phase { Waiting, Active, Parked };

    std::shared_ptr<UrlSessionDataTask> task;
    UrlRequest request; // the hop under way
    QString authorizationOrigin; // the only origin "Authorization" is sent to
    QString previousScheme; // of the hop before, for the https-to-http rule
    double timeout = 60;
    double resourceTimeout = 180;
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
    ReceivedBody body; // whole body (completion handler) or the chunk not yet handed on (delegate)
    QByteArray redirectBody;
    qint64 received = 0;
    bool overCap = false;
    bool refusedAddress = false;
    bool loopbackOnly = false;
    Clock::time_point lastActivity;
    std::optional<Clock::time_point> deadline; // set when the first hop starts
    bool lengthOutOfRange = false;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;

    // The answers kept for reuse: whether this hop may use them, the kept answer it asks the
    // server about, when it was asked, and the pieces of a streamed body kept to store it.
    bool cacheable = false;
    std::shared_ptr<const UrlCache::Entry> revalidating;
    qint64 hopRequestTime = 0;
    bool keepsPieces = false;
    std::vector<QByteArray> keptPieces;
    qint64 keptSize = 0;

    qint64 cap() const { return std::max<qint64>(0, request.maximumBodySize); }
};

// Whether the hop's request, with the session's fields under its own, may use the cache.
bool cacheApplies(const Transfer& t);

// Hands the body received so far to the task's delegate, keeping a share of it for the cache
// when the answer is to be stored.
void handOnBody(Transfer* t);

struct Host {
    int active = 0;
    std::deque<Transfer*> waiting;
};

struct Command {
    enum class Kind { Start, Cancel, Continue, CloseIdle } kind;
    std::shared_ptr<UrlSessionDataTask> task;
    std::optional<UrlRequest> request;
};

} // namespace NetworkDetail

using NetworkDetail::Command;
using NetworkDetail::Host;
using NetworkDetail::Transfer;

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
    std::unordered_set<QString> multiplexingHosts; // last answered over HTTP/2 or later
    std::map<quint64, Transfer*> eligible; // the head of each waiting line whose host has room
    int active = 0;
    quint64 nextSequence = 1;

    void run();
    static void configure(CURLM* multi);
    void handle(Command& command);
    void closeIdle();
    void start(const std::shared_ptr<UrlSessionDataTask>& task);
    void cancel(Transfer* t);
    void continueParked(Transfer* t, std::optional<UrlRequest>& request);
    void beginHop(Transfer* t, UrlRequest request);
    void refreshHost(const QString& key);
    void startEligible();
    bool activate(Transfer* t);
    void release(Transfer* t);
    void finish(Transfer* t, CURLcode code);
    void redirect(Transfer* t);
    void complete(Transfer* t, std::optional<QByteArray> body, std::optional<Error> error);
    // Ends the task with a kept answer (fresh, or confirmed by a 304).
    void answerFromCache(Transfer* t, const std::shared_ptr<const UrlCache::Entry>& entry);
    // Keeps or forgets what the finished hop's answer says about its address.
    void updateCache(Transfer* t, const QByteArray& body);
    void flush(Transfer* t);
    void checkTimeouts();
    int waitMilliseconds() const;

    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static size_t onWrite(char* data, size_t size, size_t count, void* user);
    static int onProgress(
        void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded);
    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
};

} // namespace Tickerly::Foundation

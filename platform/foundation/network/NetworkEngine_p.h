#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/UrlSession.h"

#include <atomic>

namespace Tickerly::Foundation {

// Private to the URL sessions: the state of a task shared between its session, the network
// thread and the delegate queue.
struct UrlSessionDataTask::Private {
    mutable std::mutex mutex;
    State state = State::Suspended;
    // Strong from creation until the completion has been delivered, so the delegate queue
    // outlives every callback of the task.
    std::shared_ptr<UrlSession> session;
    CompletionHandler handler; // delegate queue only once the task runs
    UrlRequest currentRequest;
    std::optional<UrlResponse> response;
    std::optional<Error> error;
    std::atomic<qint64> received { 0 };
};

// The one network thread behind every session (libcurl's multi interface). Transfers are
// queued past a global and a per-host cap and started as others end; nothing is dropped.
// Lives for the whole process; stopped when the process exits.
class NetworkEngine {
public:
    // Transfers at once over all hosts, for a process that may open `descriptors` files (its
    // soft limit; negative: no limit). A transfer holds up to two descriptors at once (the pair
    // of a name lookup, or both sockets of a dual-stack connect); the connections kept for reuse
    // and the rest of the process (the store, icon files, the display) keep theirs. Never more
    // than `transferCap`: past it bodies are held at once for no gain in time.
    static int transferLimitFor(qint64 descriptors);
    static constexpr int descriptorsPerTransfer = 2;
    static constexpr int keptConnections = 64;
    static constexpr int descriptorsKeptForFiles = 256;
    static constexpr int transferCap = 512;
    // The limit for this process (or what a test set).
    static int maximumTransfers();
    // Transfers at once to one host: over HTTP/1.1 one a connection; over HTTP/2 a connection
    // carries up to a hundred, so the same six connections carry six hundred.
    static constexpr int maximumTransfersPerHost = 6;
    static constexpr int maximumStreamsPerHost = maximumTransfersPerHost * 100;
    static constexpr int maximumRedirects = 16;

    static NetworkEngine& instance();
    // Ends the network thread for good, once the process is ending: transfers under way are
    // left where they are and nothing more is delivered. Returns when the thread has ended.
    void stop();
    // The same, for an engine that was made; none is made for it.
    static void stopIfMade();

    // Commands, safe from any thread; handled in order on the network thread.
    void start(const std::shared_ptr<UrlSessionDataTask>& task);
    void cancel(const std::shared_ptr<UrlSessionDataTask>& task);
    // The delegate's answer to a redirect: the request to follow, or nothing to stop there.
    void continueRedirect(
        const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlRequest> request);

    // Closes the connections kept for reuse, when no transfer runs; returns once done.
    void closeIdleConnections();

    // Hand-offs to a task's delegate queue (defined in UrlSession.cpp).
    static void deliverData(const std::shared_ptr<UrlSessionDataTask>& task, QByteArray chunk);
    // Ends the task once: later calls do nothing. A task being cancelled ends as cancelled.
    static void deliverCompletion(const std::shared_ptr<UrlSessionDataTask>& task,
        std::optional<QByteArray> body, std::optional<Error> error);
    // The same, for callers that hold the task's lock.
    static void completeLocked(const std::shared_ptr<UrlSessionDataTask>& task,
        std::optional<QByteArray> body, std::optional<Error> error);
    static void askRedirect(
        const std::shared_ptr<UrlSessionDataTask>& task, UrlResponse response, UrlRequest request);
    // Whether the task's session has a delegate to ask about redirects.
    static bool hasDelegate(const UrlSessionDataTask& task);

    struct Private;

private:
    NetworkEngine();
    ~NetworkEngine();
    std::unique_ptr<Private> d;
};

} // namespace Tickerly::Foundation

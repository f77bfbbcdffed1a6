#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/base/Error.h"
#include "platform/foundation/network/UrlRequest.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace Tickerly::Foundation {

class OperationQueue;
class UrlSession;
class UrlSessionDataTask;

// What every request of a session starts from.
struct TICKERLYFOUNDATION_EXPORT UrlSessionConfiguration {
    // Applies to requests whose own policy is UseProtocolDefault.
    UrlCachePolicy requestCachePolicy = UrlCachePolicy::UseProtocolDefault;
    // Seconds without progress before a task fails; applies to requests that set none.
    double timeoutIntervalForRequest = 60;
    // Seconds a task may take in all, across its redirects, however steadily data arrives: a
    // server that trickles never holds a task for ever.
    double timeoutIntervalForResource = 180;
    // Sent with every request unless the request sets the same field itself.
    HttpHeaderFields httpAdditionalHeaders;
};

// Receives a session's events. Every call runs on the session's delegate queue, one at a time.
// The session holds its delegate strongly until it has become invalid.
class TICKERLYFOUNDATION_EXPORT UrlSessionDelegate {
public:
    virtual ~UrlSessionDelegate();

    // A chunk of the body of a task made without a completion handler, in order.
    virtual void didReceiveData(
        UrlSession& session, UrlSessionDataTask& task, const QByteArray& data);
    // The task has ended; `error` is absent on success. Called once per task, after its data.
    virtual void didCompleteWithError(
        UrlSession& session, UrlSessionDataTask& task, const std::optional<Error>& error);
    // The session has ended (after finishTasksAndInvalidate or invalidateAndCancel), after every
    // task's completion. The last call the delegate receives.
    virtual void didBecomeInvalidWithError(UrlSession& session, const std::optional<Error>& error);
    // A redirect the session is about to follow with `newRequest` (already cleared of what must
    // not travel). Returns the request to follow, or nothing to end the task with `response`
    // and its body instead. The default follows.
    virtual std::optional<UrlRequest> willPerformHttpRedirection(UrlSession& session,
        UrlSessionDataTask& task, const UrlResponse& response, UrlRequest newRequest);
};

// One download of a session. Made suspended by UrlSession::dataTask; resume() starts it.
// Thread-safe; owned through shared_ptr by its caller and, while it runs, by its session.
class TICKERLYFOUNDATION_EXPORT UrlSessionDataTask
    : public std::enable_shared_from_this<UrlSessionDataTask> {
public:
    enum class State { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };
    // Called once on the delegate queue: the body (present, maybe empty, on success; absent on
    // any error), the response when headers arrived, and the error when the task failed.
    using CompletionHandler = std::function<void(std::optional<QByteArray> data,
        std::optional<UrlResponse> response, std::optional<Error> error)>;

    ~UrlSessionDataTask();
    UrlSessionDataTask(const UrlSessionDataTask&) = delete;
    UrlSessionDataTask& operator=(const UrlSessionDataTask&) = delete;

    // Unique within the session, from 1 up.
    qint64 taskIdentifier() const { return m_identifier; }
    // Starts the download; later calls do nothing.
    void resume();
    // Ends the task with UrlError::Cancelled (also when it never ran); nothing once it ended.
    void cancel();
    State state() const;

    const UrlRequest& originalRequest() const { return m_originalRequest; }
    // The request as sent last: after redirects, the one that was followed.
    UrlRequest currentRequest() const;
    std::optional<UrlResponse> response() const;
    std::optional<Error> error() const;
    qint64 countOfBytesReceived() const;

private:
    friend class UrlSession;
    friend class NetworkEngine;
    struct Private;
    UrlSessionDataTask(const std::shared_ptr<UrlSession>& session, qint64 identifier,
        UrlRequest request, CompletionHandler handler);

    const qint64 m_identifier;
    const UrlRequest m_originalRequest;
    std::unique_ptr<Private> d;
};

// A set of downloads sharing one configuration, one delegate and one serial delegate queue of
// its own, on which every callback of the session runs: never on the main thread, never two at
// once. All sessions share one network thread. Sessions are cheap; make one per job.
//
// Owned through shared_ptr by its makers and by its running tasks: a session whose tasks have
// all ended and that nobody holds goes away. Thread-safe.
class TICKERLYFOUNDATION_EXPORT UrlSession : public std::enable_shared_from_this<UrlSession> {
public:
    static std::shared_ptr<UrlSession> create(UrlSessionConfiguration configuration = {},
        std::shared_ptr<UrlSessionDelegate> delegate = {});
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    // A suspended task whose events go to the delegate.
    std::shared_ptr<UrlSessionDataTask> dataTask(const UrlRequest& request);
    // A suspended task whose body and outcome go to `completionHandler` (the delegate still
    // hears of redirects and completion, but gets no data).
    std::shared_ptr<UrlSessionDataTask> dataTask(
        const UrlRequest& request, UrlSessionDataTask::CompletionHandler completionHandler);

    // Lets running tasks end, then tells the delegate the session became invalid (at once
    // when none runs). Tasks resumed after the session became invalid end with Cancelled.
    void finishTasksAndInvalidate();
    // Cancels every running task, then becomes invalid as above.
    void invalidateAndCancel();

    const UrlSessionConfiguration& configuration() const { return m_configuration; }
    std::shared_ptr<UrlSessionDelegate> delegate() const;
    // The queue every callback runs on; callers may add work of their own to it.
    OperationQueue& delegateQueue() const { return *m_queue; }

private:
    friend class UrlSessionDataTask;
    friend class NetworkEngine;
    enum class Validity { Valid, Finishing, Invalid };

    UrlSession(UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate);
    std::shared_ptr<UrlSessionDataTask> makeTask(
        const UrlRequest& request, UrlSessionDataTask::CompletionHandler handler);
    // Delegate-queue side of a task's end; see UrlSession.cpp.
    void taskEnded(const std::shared_ptr<UrlSessionDataTask>& task);
    bool admitTask(const std::shared_ptr<UrlSessionDataTask>& task);
    void becomeInvalidIfDone(std::unique_lock<std::mutex>& lock);

    const UrlSessionConfiguration m_configuration;
    std::unique_ptr<OperationQueue> m_queue;

    mutable std::mutex m_mutex;
    std::shared_ptr<UrlSessionDelegate> m_delegate;
    std::unordered_set<std::shared_ptr<UrlSessionDataTask>> m_running;
    Validity m_validity = Validity::Valid;
    qint64 m_nextIdentifier = 1;
};

} // namespace Tickerly::Foundation

#include "platform/foundation/network/UrlSession.h"

#include "platform/foundation/network/NetworkEngine_p.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/network/UrlSessionTesting.h"

#include <QAtomicInteger>

#include <algorithm>
#include <atomic>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {
std::atomic<int> bodyLimitDivisor { 1 };
} // namespace

void UrlSessionTesting::divideBodyLimits(int divisor) { bodyLimitDivisor = std::max(divisor, 1); }

// ---- delegate defaults

UrlSessionDelegate::~UrlSessionDelegate() = default;

void UrlSessionDelegate::didReceiveData(UrlSession&, UrlSessionDataTask&, const QByteArray&) { }

void UrlSessionDelegate::didCompleteWithError(
    UrlSession&, UrlSessionDataTask&, const std::optional<Error>&)
{
}

void UrlSessionDelegate::didBecomeInvalidWithError(UrlSession&, const std::optional<Error>&) { }

std::optional<UrlRequest> UrlSessionDelegate::willPerformHttpRedirection(
    UrlSession&, UrlSessionDataTask&, const UrlResponse&, UrlRequest newRequest)
{
    return newRequest;
}

// ---- task

UrlSessionDataTask::UrlSessionDataTask(const std::shared_ptr<UrlSession>& session,
    qint64 identifier, UrlRequest request, CompletionHandler handler)
    : m_identifier(identifier)
    , m_originalRequest(std::move(request))
    , d(std::make_unique<Private>())
{
    d->session = session;
    d->handler = std::move(handler);
    d->currentRequest = m_originalRequest;
}

UrlSessionDataTask::~UrlSessionDataTask() = default;

void UrlSessionDataTask::resume()
{
    const auto self = shared_from_this();
    std::lock_guard lock(d->mutex);
    if (d->state != State::Suspended || !d->session)
        return;
    if (!d->session->admitTask(self)) {
        // The session is over: the task ends at once, as a cancelled one.
        d->state = State::Canceling;
        NetworkEngine::completeLocked(self, std::nullopt, UrlError::make(UrlError::Cancelled));
        return;
    }
    d->state = State::Running;
    // Queued while the task is locked, so a concurrent cancel always follows the start.
    NetworkEngine::instance().start(self);
}

void UrlSessionDataTask::cancel()
{
    const auto self = shared_from_this();
    std::lock_guard lock(d->mutex);
    switch (d->state) {
    case State::Suspended:
        d->state = State::Canceling;
        NetworkEngine::completeLocked(self, std::nullopt, UrlError::make(UrlError::Cancelled));
        break;
    case State::Running:
        d->state = State::Canceling;
        NetworkEngine::instance().cancel(self);
        break;
    case State::Canceling:
    case State::Completed:
        break;
    }
}

UrlSessionDataTask::State UrlSessionDataTask::state() const
{
    std::lock_guard lock(d->mutex);
    return d->state;
}

UrlRequest UrlSessionDataTask::currentRequest() const
{
    std::lock_guard lock(d->mutex);
    return d->currentRequest;
}

std::optional<UrlResponse> UrlSessionDataTask::response() const
{
    std::lock_guard lock(d->mutex);
    return d->response;
}

std::optional<Error> UrlSessionDataTask::error() const
{
    std::lock_guard lock(d->mutex);
    return d->error;
}

qint64 UrlSessionDataTask::countOfBytesReceived() const { return d->received; }

// ---- session

namespace {
QAtomicInteger<quint64> sessionCount = 0;
}

UrlSession::UrlSession(
    UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate)
    : m_configuration(std::move(configuration))
    , m_queue(std::make_unique<OperationQueue>(u"UrlSession "_s + QString::number(++sessionCount)))
    , m_delegate(std::move(delegate))
{
}

UrlSession::~UrlSession() = default;

std::shared_ptr<UrlSession> UrlSession::create(
    UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate)
{
    return std::shared_ptr<UrlSession>(
        new UrlSession(std::move(configuration), std::move(delegate)));
}

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTask(const UrlRequest& request)
{
    return makeTask(request, {});
}

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTask(
    const UrlRequest& request, UrlSessionDataTask::CompletionHandler completionHandler)
{
    if (!completionHandler)
        completionHandler
            = [](std::optional<QByteArray>, std::optional<UrlResponse>, std::optional<Error>) {};
    return makeTask(request, std::move(completionHandler));
}

std::shared_ptr<UrlSessionDataTask> UrlSession::makeTask(
    const UrlRequest& request, UrlSessionDataTask::CompletionHandler handler)
{
    qint64 identifier;
    {
        std::lock_guard lock(m_mutex);
        identifier = m_nextIdentifier++;
    }
    UrlRequest taken = request;
    taken.maximumBodySize /= bodyLimitDivisor;
    return std::shared_ptr<UrlSessionDataTask>(new UrlSessionDataTask(
        shared_from_this(), identifier, std::move(taken), std::move(handler)));
}

std::shared_ptr<UrlSessionDelegate> UrlSession::delegate() const
{
    std::lock_guard lock(m_mutex);
    return m_delegate;
}

bool UrlSession::admitTask(const std::shared_ptr<UrlSessionDataTask>& task)
{
    std::lock_guard lock(m_mutex);
    if (m_validity == Validity::Invalid)
        return false;
    m_running.insert(task);
    return true;
}

void UrlSession::finishTasksAndInvalidate()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_validity != Validity::Valid)
            return;
        m_validity = Validity::Finishing;
    }
    // Invalid at once when nothing runs; otherwise the last task's end does it.
    m_queue->addOperation([self = shared_from_this()] {
        std::unique_lock lock(self->m_mutex);
        self->becomeInvalidIfDone(lock);
    });
}

void UrlSession::invalidateAndCancel()
{
    std::vector<std::shared_ptr<UrlSessionDataTask>> running;
    {
        std::lock_guard lock(m_mutex);
        if (m_validity == Validity::Invalid)
            return;
        m_validity = Validity::Finishing;
        running.assign(m_running.begin(), m_running.end());
    }
    for (const auto& task : running)
        task->cancel();
    m_queue->addOperation([self = shared_from_this()] {
        std::unique_lock lock(self->m_mutex);
        self->becomeInvalidIfDone(lock);
    });
}

void UrlSession::becomeInvalidIfDone(std::unique_lock<std::mutex>& lock)
{
    if (m_validity != Validity::Finishing || !m_running.empty())
        return;
    m_validity = Validity::Invalid;
    // The delegate is let go once told, which breaks the cycle of a delegate that holds us.
    auto delegate = std::move(m_delegate);
    lock.unlock();
    if (delegate)
        delegate->didBecomeInvalidWithError(*this, std::nullopt);
}

void UrlSession::taskEnded(const std::shared_ptr<UrlSessionDataTask>& task)
{
    std::unique_lock lock(m_mutex);
    m_running.erase(task);
    becomeInvalidIfDone(lock);
}

// ---- hand-offs from the network thread to delegate queues

bool NetworkEngine::hasDelegate(const UrlSessionDataTask& task)
{
    std::shared_ptr<UrlSession> session;
    {
        std::lock_guard lock(task.d->mutex);
        session = task.d->session;
    }
    return session && session->delegate();
}

void NetworkEngine::deliverData(const std::shared_ptr<UrlSessionDataTask>& task, QByteArray chunk)
{
    std::shared_ptr<UrlSession> session;
    {
        std::lock_guard lock(task->d->mutex);
        session = task->d->session;
    }
    if (!session || chunk.isEmpty())
        return;
    session->m_queue->addOperation([task, chunk = std::move(chunk)] {
        std::shared_ptr<UrlSession> s;
        {
            std::lock_guard lock(task->d->mutex);
            s = task->d->session;
        }
        if (!s)
            return;
        if (auto delegate = s->delegate())
            delegate->didReceiveData(*s, *task, chunk);
    });
}

void NetworkEngine::deliverCompletion(const std::shared_ptr<UrlSessionDataTask>& task,
    std::optional<QByteArray> body, std::optional<Error> error)
{
    std::lock_guard lock(task->d->mutex);
    completeLocked(task, std::move(body), std::move(error));
}

void NetworkEngine::completeLocked(const std::shared_ptr<UrlSessionDataTask>& task,
    std::optional<QByteArray> body, std::optional<Error> error)
{
    if (task->d->state == UrlSessionDataTask::State::Completed)
        return;
    if (task->d->state == UrlSessionDataTask::State::Canceling)
        error = UrlError::make(UrlError::Cancelled);
    if (error)
        body.reset();
    task->d->state = UrlSessionDataTask::State::Completed;
    task->d->error = error;
    std::shared_ptr<UrlSession> session = task->d->session;
    std::optional<UrlResponse> response = task->d->response;
    if (!session)
        return;
    OperationQueue& queue = *session->m_queue;
    // The operation keeps the session, so its last owner never lets go on the network thread.
    queue.addOperation([task, keep = std::move(session), body = std::move(body),
                           response = std::move(response), error = std::move(error)]() mutable {
        std::shared_ptr<UrlSession> s;
        UrlSessionDataTask::CompletionHandler handler;
        {
            std::lock_guard lock(task->d->mutex);
            s = task->d->session;
            handler = std::move(task->d->handler);
            task->d->handler = nullptr;
        }
        if (!s)
            return;
        if (handler) {
            // The handler's is the body's last hold: it lets go of it when it is done.
            handler(std::move(body), response, error);
            handler = nullptr; // its captures go now, not with the task
        }
        if (auto delegate = s->delegate())
            delegate->didCompleteWithError(*s, *task, error);
        s->taskEnded(task);
        std::lock_guard lock(task->d->mutex);
        task->d->session.reset();
    });
}

void NetworkEngine::askRedirect(
    const std::shared_ptr<UrlSessionDataTask>& task, UrlResponse response, UrlRequest request)
{
    std::shared_ptr<UrlSession> session;
    {
        std::lock_guard lock(task->d->mutex);
        session = task->d->session;
    }
    if (!session)
        return;
    session->m_queue->addOperation([task, response = std::move(response),
                                       request = std::move(request)]() mutable {
        std::shared_ptr<UrlSession> s;
        {
            std::lock_guard lock(task->d->mutex);
            s = task->d->session;
        }
        std::optional<UrlRequest> next = std::move(request);
        if (s) {
            if (auto delegate = s->delegate())
                next = delegate->willPerformHttpRedirection(*s, *task, response, std::move(*next));
        }
        NetworkEngine::instance().continueRedirect(task, std::move(next));
    });
}

} // namespace Tickerly::Foundation

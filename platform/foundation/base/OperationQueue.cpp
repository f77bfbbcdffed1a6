#include "platform/foundation/base/OperationQueue.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace Tickerly::Foundation {

struct OperationQueue::State {
    QString name;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> operations;
    bool scheduled = false; // handed to a worker, which runs it until it is empty
    quint64 added = 0;
    quint64 finished = 0;
    OperationQueue* owner = nullptr; // cleared when the owner goes
};

namespace {
thread_local OperationQueue* currentQueue = nullptr;
thread_local const void* currentState = nullptr;
} // namespace

// The threads every queue runs on. A queue has no thread of its own: while it has operations
// it is handed to a free worker, so thousands of idle sessions cost no thread. Never destroyed:
// its workers wait for work until the process ends.
class OperationQueueWorkers {
public:
    using StatePtr = std::shared_ptr<OperationQueue::State>;

    static OperationQueueWorkers& instance()
    {
        static auto* pool = new OperationQueueWorkers;
        return *pool;
    }

    void schedule(StatePtr state)
    {
        std::lock_guard lock(m_mutex);
        readyLocked(std::move(state));
    }

    void stopStarting() { m_stopped = true; }
    bool stopped() const { return m_stopped; }

    void drop(std::function<void()> op)
    {
        std::lock_guard lock(m_droppedMutex);
        m_dropped.push_back(std::move(op));
    }

    bool waitUntilSettled(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        return m_settled.wait_until(
            lock, deadline, [this] { return m_busy == 0 && m_ready.empty(); });
    }

    // A worker about to wait for another queue's operations: a thread stands in for it while it
    // waits, so waits between queues can never hold every worker with the awaited work unrun.
    void blockingBegins()
    {
        std::lock_guard lock(m_mutex);
        ++m_blocked;
        startWorkerIfNeeded();
    }

    void blockingEnds()
    {
        std::lock_guard lock(m_mutex);
        --m_blocked;
    }

private:
    // Generous, so that operations that block for a while do not hold up every other queue.
    static constexpr int maximumThreads = 32;
    // Operations run before a busy queue lets the others have the worker.
    static constexpr int batch = 64;

    // With the lock held.
    void readyLocked(StatePtr state)
    {
        m_ready.push_back(std::move(state));
        if (!startWorkerIfNeeded())
            m_wake.notify_one();
    }

    // With the lock held.
    bool startWorkerIfNeeded()
    {
        if (qsizetype(m_ready.size()) <= m_idle || m_threads - m_blocked >= maximumThreads)
            return false;
        ++m_threads;
        std::thread([this] { work(); }).detach();
        return true;
    }

    void work()
    {
        for (;;) {
            StatePtr state;
            {
                std::unique_lock lock(m_mutex);
                // A stand-in whose waiter is back has no place left.
                if (m_threads - m_blocked > maximumThreads) {
                    --m_threads;
                    return;
                }
                ++m_idle;
                m_wake.wait(lock, [this] { return !m_ready.empty(); });
                --m_idle;
                state = std::move(m_ready.front());
                m_ready.pop_front();
                ++m_busy;
            }
            const bool emptied = drain(state);
            {
                std::lock_guard lock(m_mutex);
                if (!emptied)
                    readyLocked(std::move(state));
                --m_busy;
            }
            m_settled.notify_all();
        }
    }

    // Drops every operation still queued, counted as finished.
    void dropQueued(const StatePtr& state)
    {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(state->mutex);
            dropped.swap(state->operations);
            state->finished += dropped.size();
            state->scheduled = false;
        }
        state->changed.notify_all();
        for (auto& op : dropped)
            drop(std::move(op));
    }

    // Runs the queue's operations; false when it still has some after a batch.
    bool drain(const StatePtr& state)
    {
        for (int n = 0; n < batch; ++n) {
            if (m_stopped) {
                dropQueued(state);
                return true;
            }
            std::function<void()> op;
            {
                std::lock_guard lock(state->mutex);
                if (state->operations.empty()) {
                    state->scheduled = false;
                    return true;
                }
                op = std::move(state->operations.front());
                state->operations.pop_front();
                currentQueue = state->owner;
            }
            currentState = state.get();
            // An escaping exception would take the whole process down with the thread.
            try {
                op();
            } catch (const std::exception& e) {
                qWarning("Operation on queue %s failed: %s", qUtf8Printable(state->name), e.what());
            } catch (...) {
                qWarning("Operation on queue %s failed", qUtf8Printable(state->name));
            }
            // What the operation captured goes while its queue is still the current one, so an
            // owner it releases can destroy the queue from here.
            op = nullptr;
            currentState = nullptr;
            currentQueue = nullptr;
            {
                std::lock_guard lock(state->mutex);
                ++state->finished;
            }
            state->changed.notify_all();
        }
        return false;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    std::deque<StatePtr> m_ready;
    std::atomic<bool> m_stopped = false;
    int m_busy = 0; // workers running (or dropping) a queue's operations
    // Operations dropped at the end of the process, kept with what they hold: let go, they would
    // tear down objects on any thread while the statics those use are being destroyed.
    std::mutex m_droppedMutex;
    std::vector<std::function<void()>> m_dropped;
    int m_threads = 0;
    int m_blocked = 0;
    qsizetype m_idle = 0;
};

namespace {

// Marks a wait of the calling worker, if it is one, for as long as it lasts.
class WorkerWait {
public:
    WorkerWait()
        : m_worker(currentState != nullptr)
    {
        if (m_worker)
            OperationQueueWorkers::instance().blockingBegins();
    }
    ~WorkerWait()
    {
        if (m_worker)
            OperationQueueWorkers::instance().blockingEnds();
    }
    WorkerWait(const WorkerWait&) = delete;
    WorkerWait& operator=(const WorkerWait&) = delete;

private:
    bool m_worker;
};

// Waits, with `lock` held on entry and exit, until `done`; a worker lets a stand-in take its
// place for as long as it waits.
template <class Done>
void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, Done done)
{
    if (done())
        return;
    lock.unlock();
    const WorkerWait wait;
    lock.lock();
    changed.wait(lock, done);
}

} // namespace

OperationQueue::OperationQueue(const QString& name)
    : d(std::make_shared<State>())
{
    d->name = name;
    d->owner = this;
}

OperationQueue::~OperationQueue()
{
    {
        std::lock_guard lock(d->mutex);
        d->owner = nullptr;
    }
    if (isCurrent()) {
        // The operations still queued run after this object is gone.
        currentQueue = nullptr;
        return;
    }
    std::unique_lock lock(d->mutex);
    waitUntil(lock, d->changed, [this] { return d->finished >= d->added; });
}

void OperationQueue::addOperation(std::function<void()> op)
{
    if (OperationQueueWorkers::instance().stopped()) {
        OperationQueueWorkers::instance().drop(std::move(op));
        return;
    }
    bool schedule = false;
    {
        std::lock_guard lock(d->mutex);
        d->operations.push_back(std::move(op));
        ++d->added;
        schedule = !std::exchange(d->scheduled, true);
    }
    if (schedule)
        OperationQueueWorkers::instance().schedule(d);
}

bool OperationQueue::isCurrent() const { return currentState == d.get(); }

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    if (isCurrent()) {
        // The running operation is one of those it would wait for: that wait would never end.
        qWarning("OperationQueue %s: waitUntilAllOperationsAreFinished from its own operation does "
                 "not wait",
            qUtf8Printable(d->name));
        return;
    }
    std::unique_lock lock(d->mutex);
    const quint64 target = d->added;
    waitUntil(lock, d->changed, [this, target] { return d->finished >= target; });
}

const QString& OperationQueue::name() const { return d->name; }

OperationQueue* OperationQueue::current() { return currentQueue; }

void OperationQueue::stopStartingOperations() { OperationQueueWorkers::instance().stopStarting(); }

bool OperationQueue::waitUntilNoOperationRuns(std::chrono::steady_clock::time_point deadline)
{
    return OperationQueueWorkers::instance().waitUntilSettled(deadline);
}

} // namespace Tickerly::Foundation

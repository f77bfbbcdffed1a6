#include "platform/foundation/OperationQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {
thread_local OperationQueue* currentQueue = nullptr;
}

struct OperationQueue::State {
    QString name;
    std::thread thread;
    std::thread::id threadId;
    QObject* worker = nullptr; // lives on the queue's thread; deleted there
    QEventLoop* loop = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    quint64 added = 0;
    quint64 finished = 0;
    OperationQueue* owner = nullptr; // cleared when the owner goes
};

OperationQueue::OperationQueue(const QString& name)
    : d(std::make_shared<State>())
{
    // Without an application object the queue's event loop never runs its operations, and
    // every wait on the queue would hang: say so at once instead.
    if (!QCoreApplication::instance())
        qFatal("OperationQueue %s made before the QCoreApplication", qUtf8Printable(name));
    d->name = name;
    d->owner = this;
    d->thread = std::thread([state = d] {
        QEventLoop loop;
        QObject worker;
        {
            std::lock_guard lock(state->mutex);
            state->worker = &worker;
            state->loop = &loop;
            state->threadId = std::this_thread::get_id();
            currentQueue = state->owner;
            state->ready = true;
        }
        state->changed.notify_all();
        loop.exec();
        std::lock_guard lock(state->mutex);
        state->worker = nullptr;
        state->loop = nullptr;
    });
    std::unique_lock lock(d->mutex);
    d->changed.wait(lock, [this] { return d->ready; });
}

OperationQueue::~OperationQueue()
{
    auto state = d;
    {
        std::lock_guard lock(state->mutex);
        state->owner = nullptr;
    }
    // Queued after every pending operation, so those finish first.
    QMetaObject::invokeMethod(
        state->worker,
        [state] {
            currentQueue = nullptr;
            state->loop->quit();
        },
        Qt::QueuedConnection);
    if (std::this_thread::get_id() == state->threadId) {
        // The operations still queued run after this object is gone.
        currentQueue = nullptr;
        state->thread.detach();
    } else {
        state->thread.join();
    }
}

void OperationQueue::addOperation(std::function<void()> op)
{
    auto state = d;
    {
        std::lock_guard lock(state->mutex);
        ++state->added;
    }
    QMetaObject::invokeMethod(
        state->worker,
        [state, op = std::move(op)] {
            // An escaping exception would take the whole process down with the thread.
            try {
                op();
            } catch (const std::exception& e) {
                qWarning("Operation on queue %s failed: %s", qUtf8Printable(state->name), e.what());
            } catch (...) {
                qWarning("Operation on queue %s failed", qUtf8Printable(state->name));
            }
            {
                std::lock_guard lock(state->mutex);
                ++state->finished;
            }
            state->changed.notify_all();
        },
        Qt::QueuedConnection);
}

bool OperationQueue::isCurrent() const
{
    return std::this_thread::get_id() == d->threadId;
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    Q_ASSERT(!isCurrent());
    std::unique_lock lock(d->mutex);
    const quint64 target = d->added;
    d->changed.wait(lock, [this, target] { return d->finished >= target; });
}

QObject* OperationQueue::context() const
{
    return d->worker;
}

const QString& OperationQueue::name() const
{
    return d->name;
}

OperationQueue* OperationQueue::current()
{
    return currentQueue;
}

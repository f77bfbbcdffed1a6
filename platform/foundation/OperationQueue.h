#pragma once

#include "tickerlyfoundation_export.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// A serial worker queue: one thread of its own that runs operations one at a time, in the
// order they were added. URL sessions deliver every callback on such a queue.
//
// Owned by whoever made it. Destroying it lets queued operations finish first; destroying it
// from one of its own operations is allowed (the thread then winds down by itself).
// Needs a QCoreApplication, as every event loop does.
class TICKERLYFOUNDATION_EXPORT OperationQueue {
public:
    explicit OperationQueue(const QString& name = {});
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    // Queues `op`. Safe from any thread, including the queue's own.
    void addOperation(std::function<void()> op);

    // Whether the caller is running on this queue.
    bool isCurrent() const;

    // Blocks until every operation added so far has run. Must not be called on the queue.
    void waitUntilAllOperationsAreFinished();

    // An object living on the queue's thread, for queued calls and timers that must run there.
    QObject* context() const;

    const QString& name() const;

    // The queue the caller runs on, or null outside any OperationQueue.
    static OperationQueue* current();

private:
    struct State;
    std::shared_ptr<State> d;
};

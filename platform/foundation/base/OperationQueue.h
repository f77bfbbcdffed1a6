#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace Tickerly::Foundation {

// A serial worker queue: runs operations one at a time, in the order they were added, never on
// the main thread. URL sessions deliver every callback on such a queue.
//
// Queues share a bounded set of worker threads: a queue with work is run by one worker at a
// time, so many queues (one per session) cost no thread while idle. Operations run without an
// event loop of their own; hop to the main queue for anything that needs one.
//
// Owned by whoever made it. Destroying it lets queued operations finish first; destroying it
// from one of its own operations is allowed (the rest then run without it).
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

    // Blocks until every operation added so far has run. Called from the queue's own operation it
    // cannot wait for itself: it says so in the log and returns at once.
    void waitUntilAllOperationsAreFinished();

    const QString& name() const;

    // The queue the caller runs on, or null outside any OperationQueue.
    static OperationQueue* current();

    // For the end of the process, and for good: no operation of any queue starts any more. Those
    // still queued are dropped unrun (counted as run), and so is any added later; what they hold
    // is kept until the process ends.
    static void stopStartingOperations();
    // Waits until no operation runs any more (nor is being dropped), or until `deadline`;
    // whether none does. Not from an operation.
    static bool waitUntilNoOperationRuns(std::chrono::steady_clock::time_point deadline);

private:
    friend class OperationQueueWorkers;
    struct State;
    std::shared_ptr<State> d;
};

} // namespace Tickerly::Foundation

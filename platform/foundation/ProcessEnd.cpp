#include "platform/foundation/ProcessEnd.h"

#include "platform/foundation/NetworkEngine_p.h"
#include "platform/foundation/OperationQueue.h"

#include <QtGlobal>

bool endBackgroundWork(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    // First, so that what the network thread still hands on is dropped, not started.
    OperationQueue::stopStartingOperations();
    NetworkEngine::stopIfMade();
    if (OperationQueue::waitUntilNoOperationRuns(deadline))
        return true;
    qWarning("Background work was still running %lld ms after quitting; the program ends anyway",
        static_cast<long long>(bound.count()));
    return false;
}

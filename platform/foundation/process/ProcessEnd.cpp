#include "platform/foundation/process/ProcessEnd.h"

#include "platform/foundation/network/NetworkEngine_p.h"
#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace Tickerly::Foundation {

namespace {

struct WorkEnd {
    bool ended;
    bool written;
};

WorkEnd endWork(std::chrono::milliseconds bound, std::chrono::milliseconds keptChangesBound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    // A change waiting for the store on another thread keeps at once, for the exit writer below.
    stopWaitingForStores();
    // First, so that what the network thread still hands on is dropped, not started.
    OperationQueue::stopStartingOperations();
    NetworkEngine::stopIfMade();
    const bool ended = OperationQueue::waitUntilNoOperationRuns(deadline);
    if (!ended)
        qWarning(
            "Background work was still running %lld ms after quitting; the program ends anyway",
            static_cast<long long>(bound.count()));
    // After the background work, whose last changes may have been kept too.
    const bool written = UserDefaults::writeKeptChangesBeforeExit(keptChangesBound);
    return { ended, written };
}

} // namespace

bool endBackgroundWork(std::chrono::milliseconds bound, std::chrono::milliseconds keptChangesBound)
{
    const WorkEnd end = endWork(bound, keptChangesBound);
    return end.ended && end.written;
}

int endProgram(
    int code, std::chrono::milliseconds bound, std::chrono::milliseconds keptChangesBound)
{
    if (endWork(bound, keptChangesBound).ended)
        return code;
    std::fflush(nullptr);
    std::_Exit(code);
}

} // namespace Tickerly::Foundation

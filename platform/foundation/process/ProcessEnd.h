#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <chrono>

namespace Tickerly::Foundation {

// Called once by a program on its main thread when its event loop has ended, before main
// returns: background work is brought to an end while everything it may touch (the stores,
// the notification centres, the caches of the libraries) still exists. A change waiting for
// the store on any thread stops waiting and is kept. Transfers stop, no
// queued operation starts any more (those queued are dropped, as is any added later) and the
// running ones are waited for, up to `bound`. Then the store's changes kept while another
// process held it are written, waiting for that process at most `keptChangesBound`; what cannot
// be written is said in the log. Returns whether all ended and all were written in time.
//
// Stored data is not at risk otherwise: a store write is one transaction.
TICKERLYFOUNDATION_EXPORT bool endBackgroundWork(
    std::chrono::milliseconds bound = std::chrono::seconds(2),
    std::chrono::milliseconds keptChangesBound = std::chrono::seconds(5));

// What main returns, as `return endProgram(code);`: ends the background work as above. When that
// work outlasted its bound, a worker may still run into what the destructors of the program and
// its libraries would destroy, so the process ends here with `code`, once the store's writes are
// done, without running them.
TICKERLYFOUNDATION_EXPORT int endProgram(int code,
    std::chrono::milliseconds bound = std::chrono::seconds(2),
    std::chrono::milliseconds keptChangesBound = std::chrono::seconds(5));

} // namespace Tickerly::Foundation

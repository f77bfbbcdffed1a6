#pragma once

#include "tickerlyfoundation_export.h"

#include <chrono>

// Called once by a program on its main thread when its event loop has ended, before main
// returns: background work is brought to an end while everything it may touch (the stores,
// the notification centres, the caches of the libraries) still exists. Transfers stop, no
// queued operation starts any more (those queued are dropped, as is any added later) and the
// running ones are waited for, up to `bound`. Returns whether they all ended in time.
//
// Stored data is not at risk: a store write is one transaction, and changes kept for a retry
// are still written when the store closes at exit.
TICKERLYFOUNDATION_EXPORT bool endBackgroundWork(std::chrono::milliseconds bound = std::chrono::seconds(2));

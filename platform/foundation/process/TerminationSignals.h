#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <functional>

namespace Tickerly::Foundation {

// The session ends a program with a signal (SIGTERM at logout, SIGINT from a terminal, SIGHUP
// when its terminal goes). Heard here, `onSignal` runs on the main thread's event loop, so the
// program quits as it would by a person's hand, with its quitting work done, instead of dying
// where it stands. A second signal, while that quitting is under way, ends it at once.
// Main thread, once, with a running QCoreApplication.
TICKERLYFOUNDATION_EXPORT void onTerminationSignals(std::function<void()> onSignal);

} // namespace Tickerly::Foundation

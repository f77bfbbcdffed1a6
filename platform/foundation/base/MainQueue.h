#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QObject>

#include <functional>

namespace Tickerly::Foundation {

class Clock;

// The main queue: work run on the Qt main thread's event loop.
//
// Every call takes an optional context object: when it is given and dies before the work runs,
// the work is dropped (a view's delayed block never runs on a dead view).
namespace MainQueue {

// Runs `fn` later on the main thread, in order of posting. Safe from any thread.
TICKERLYFOUNDATION_EXPORT void dispatchAsync(std::function<void()> fn, QObject* context = nullptr);

// Runs `fn` on the main thread after `seconds` as measured by the current clock.
// Safe from any thread.
TICKERLYFOUNDATION_EXPORT void dispatchAfter(
    double seconds, std::function<void()> fn, QObject* context = nullptr);

// Whether the caller runs on the main thread.
TICKERLYFOUNDATION_EXPORT bool isCurrent();

// The clock behind dispatchAfter; the system clock unless a test installed another.
TICKERLYFOUNDATION_EXPORT Clock& clock();
// Installs `clock` (not owned) for delayed work, or the system clock again when null.
// Main thread only.
TICKERLYFOUNDATION_EXPORT void setClock(Clock* clock);

} // namespace MainQueue

} // namespace Tickerly::Foundation

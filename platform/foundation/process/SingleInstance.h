#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>

class QObject;

namespace Tickerly::Foundation {

// One running instance of a program in the user's session, kept by a name on the session bus.
// Without a session bus every start runs on its own. Main thread, after the application object
// exists.
namespace SingleInstance {

// Takes `service` for this process. When another process holds it, asks that one to come
// forward (its "Show" on the interface `service`, at "/") and answers false: this start ends.
TICKERLYFOUNDATION_EXPORT bool claim(const QString& service);

// Answers the later starts with `target`'s scriptable slots at "/"; `target` outlives the
// program's run.
TICKERLYFOUNDATION_EXPORT void serve(QObject* target);

} // namespace SingleInstance

} // namespace Tickerly::Foundation

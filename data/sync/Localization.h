#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QString>

namespace Tickerly::Data {

// The localisation operator: `~key` is the interface text for `key` in the localisation table
// that the main bundle's information dictionary names under "Localization file" (the default
// table when that is missing or no text). A key the table lacks comes back unchanged.
// Safe on any thread.
TICKERLYDATAMAC_EXPORT QString operator~(const QString& key);

} // namespace Tickerly::Data

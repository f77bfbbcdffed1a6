#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QString>

namespace Tickerly::Data {

// The user-agent text of a mobile telephone's web browser, sent as "User-Agent" whenever the
// library asks a site for its mobile pages. Made once on first use; never changes.
TICKERLYDATAMAC_EXPORT const QString& iOSUserAgentString();

// Which version of a page to ask for: the one a phone browser gets (the request carries
// "User-Agent" = iOSUserAgentString()) or the one the session's own user agent gets.
enum class SiteVersion { Mobile, Desktop };

} // namespace Tickerly::Data

#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/UrlRequest.h"
#include "tickerlyfoundation_export.h"

#include <QStringView>

#include <optional>

namespace Tickerly::Foundation {

// How long a stored answer may be reused without asking its server, read from the header fields
// of the answer and of the request. Server input: every value is accepted without failing, and
// what cannot be read makes an answer stale rather than fresh.
namespace HttpFreshness {

// The Cache-Control directives a private cache acts on.
struct Directives {
    bool noStore = false;
    bool noCache = false; // also with a list of fields: then the whole answer is revalidated
    // Seconds; a malformed or repeated max-age reads as 0 (stale at once).
    std::optional<qint64> maxAge;
};
TICKERLYFOUNDATION_EXPORT Directives parseCacheControl(QStringView text);

// Seconds since 1970 of an HTTP date in any of its three forms (RFC 1123, RFC 850, asctime),
// always in GMT; nothing when the text is not one.
TICKERLYFOUNDATION_EXPORT std::optional<qint64> parseHttpDate(QStringView text);

// Seconds for which an answer with `fields` is fresh from its origin's point of view: max-age,
// else Expires less Date. 0 when neither says, so such answers are only reused after asking.
TICKERLYFOUNDATION_EXPORT qint64 freshnessLifetime(const HttpHeaderFields& fields);

// The answer's age at `now`, given when it was asked for and when it came (seconds since 1970).
TICKERLYFOUNDATION_EXPORT qint64 currentAge(
    const HttpHeaderFields& fields, qint64 requestTime, qint64 responseTime, qint64 now);

} // namespace HttpFreshness

} // namespace Tickerly::Foundation

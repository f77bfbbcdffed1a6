#pragma once

#include "data/Namespace.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QString>

#include <optional>

namespace Tickerly::Data {

// How feed discovery reads addresses: typed text and page links made loadable, a page's feed
// link picked out by fixed pattern rules, and the test that keeps a page from offering itself
// as its own feed. `link` is the text a creator works on: the base for relative links.
// No state beyond the configured news-magazine host; any thread.
namespace FeedLinkRules {

// A typed text as a loadable address: "feed://" becomes "http://", "//" gets "http:", a root
// path or a bare name is resolved against `link` as a browser resolves a link, and anything
// else without "http://" or "https://" in front (exact, lower case) gets "http://". Nothing
// when the result is no address.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> httpLinkFromString(
    const QString& text, const QString& link);

// The feed address `page` names, by rules tried in order: the news-magazine host, declared
// feeds, quoted absolute feed addresses, links mentioning a feed format, links mentioning a
// feed. Link values are resolved against `from`, the page's own address, as a browser resolves
// them; candidates that are no web address or name the page itself are passed over.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> findRssLink(
    const QString& page, const Foundation::Url& from);

// Whether two addresses name the same page: same host and same path, ignoring one trailing "/"
// and letter case. Scheme, port, user, query and fragment do not count.
TICKERLYDATAMAC_EXPORT bool equalURLs(const Foundation::Url& a, const Foundation::Url& b);

// The host of the news-magazine site whose pages all give its one feed; read as a pattern.
// Configuration, so tests can point it elsewhere.
TICKERLYDATAMAC_EXPORT QString newsMagazineHost();
TICKERLYDATAMAC_EXPORT void setNewsMagazineHost(const QString& host);

} // namespace FeedLinkRules

} // namespace Tickerly::Data

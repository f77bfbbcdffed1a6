#pragma once

#include "data/Namespace.h"
#include "data/sync/MobileUserAgent.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/network/UrlSession.h"
#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Data {

// Loading operations over a URL session that every piece of fetching code uses: raw bytes of a
// page (optionally as a mobile browser), its text, a JSON dictionary, an image.
//
// Each starts one data task on `session` and returns it already running; callers use it only
// to cancel. The completion runs once on the session's delegate queue, never moved to the main
// queue. None looks at the status code or the transport error: a failure of any kind (no
// bytes, bytes that are not the asked-for kind of value) arrives as nothing. Any number may run
// at once on one session.

// The body as it arrived (a GET with the session's defaults), or nothing when the transfer
// failed.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadData(
    Foundation::UrlSession& session, SiteVersion version, const Foundation::Url& url,
    std::function<void(std::optional<QByteArray>)> completion);
// The same for the mobile version.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadData(
    Foundation::UrlSession& session, const Foundation::Url& url,
    std::function<void(std::optional<QByteArray>)> completion);

// The body of what may be a feed or a page (a plain GET), up to the cap of feeds, or nothing.
// A caller that finds no feed in it reads it as a page only up to the cap of pages.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadFeedOrPage(
    Foundation::UrlSession& session, const Foundation::Url& url,
    std::function<void(std::optional<QByteArray>)> completion);

// The body as text (UTF-8, else read byte for byte as Latin-1), or nothing. An address whose
// text holds ".mp4" (exactly so; ".MP4" is loaded) is refused: the completion gets nothing on
// the calling thread before this returns, and the result is null.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadSource(
    Foundation::UrlSession& session, SiteVersion version, const Foundation::Url& url,
    std::function<void(std::optional<QString>)> completion);

// The body's top-level JSON value when it is an object, else nothing (arrays, scalars, bad
// JSON, no bytes). Asks as a mobile browser.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadJSON(
    Foundation::UrlSession& session, const Foundation::Url& url,
    std::function<void(std::optional<nlohmann::json>)> completion);

// A story's picture decoded from the body (a plain GET, no header of its own), upright, read no
// larger than a story row draws it on the screens of the moment, or nothing. Always returns the
// task, which may wait unstarted while the process holds the bytes of a few other pictures: a
// session made invalid before its turn ends it as cancelled, as any task resumed too late.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadImage(
    Foundation::UrlSession& session, const Foundation::Url& fromURL,
    std::function<void(std::optional<QImage>)> completion);
// As loadImage, for a site's icon: a picture far larger than an icon is read at a reduced size.
TICKERLYDATAMAC_EXPORT std::shared_ptr<Foundation::UrlSessionDataTask> loadIcon(
    Foundation::UrlSession& session, const Foundation::Url& fromURL,
    std::function<void(std::optional<QImage>)> completion);

} // namespace Tickerly::Data

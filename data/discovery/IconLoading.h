#pragma once

#include "data/Namespace.h"
#include "data/model/SourcesData.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Data {

class Source;

// The icon search put to work for sources: which page stands for a source, the sweep that
// finds the icons still missing, and two small loaders. Free functions; any thread.
//
// Completions run on the delegate queue of the session that made the last load, except where a
// function answers at once. Changes to the stored source list are made on the main queue.

// Searches an icon for every stored source that has no icon file and is not marked as having
// none, all searches at once, and stores each outcome: the icon, or the source marked with
// `noIconFound`, the marks of searches that end close together in one write. Returns at once:
// the icon files are looked for, and the searches started, on a queue of the sweep's own.
TICKERLYDATAMAC_EXPORT void findMissingIcons(const SourcesData& sourcesData = SourcesData());
// The same over `sources`, the stored list as the caller has just read it.
TICKERLYDATAMAC_EXPORT void findMissingIcons(
    const QList<std::shared_ptr<Source>>& sources, const SourcesData& sourcesData = SourcesData());

// Searches the icon of the source's site: its site link when it has one, else (for the video
// site) its feed address, else the domain of its feed address. When the search finds nothing,
// falls back to the image of the feed the source was discovered from in this process.
// Without any page address the completion gets nothing at once.
TICKERLYDATAMAC_EXPORT void loadImageForSource(
    const std::shared_ptr<Source>& source, std::function<void(std::optional<QImage>)> completion);

// The scheme and the last two labels of the link's host (three when the second-to-last is "co").
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> findBaseURL(const QString& link);

// Downloads one image on a session of its own; nothing when the body is no image.
TICKERLYDATAMAC_EXPORT void loadImage(
    const Foundation::Url& fromURL, std::function<void(std::optional<QImage>)> completion);

// Fetches a feed and reports its title and channel image address on the main queue, once.
TICKERLYDATAMAC_EXPORT void getFeedMetadata(const Foundation::Url& url,
    std::function<void(std::optional<QString> title, std::optional<Foundation::Url> imageURL)>
        completion);

} // namespace Tickerly::Data

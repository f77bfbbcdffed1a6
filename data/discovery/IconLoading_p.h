#pragma once

#include "data/Namespace.h"

#include <QImage>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Data {

class Source;
class SourcesData;

// Stores the outcome of a source's icon search, from the search's queue: the icon file, or (on
// the main queue, as one step of the store) the source marked as having no icon, its mark alone.
void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::shared_ptr<SourcesData> sourcesData);
// The same for any store: `saveMarked` runs on the main queue once the source is marked.
void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::function<void()> saveMarked);

} // namespace Tickerly::Data

#pragma once

#include <QImage>

#include <memory>
#include <optional>

class Source;
class SourcesData;

// Stores the outcome of a source's icon search, from the search's queue: the icon file, or (on
// the main queue, as one step of the store) the source marked as having no icon.
void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::shared_ptr<SourcesData> sourcesData);

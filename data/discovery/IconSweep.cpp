#include "data/discovery/IconLoading.h"

#include "data/discovery/IconLoading_p.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/MainQueue.h"

void findMissingIcons(const SourcesData& sourcesData)
{
    const auto store = std::make_shared<SourcesData>(sourcesData);
    for (const std::shared_ptr<Source>& source : store->sources()) {
        if (source->noIconFound || SourceIconData::hasIconForSource(*source))
            continue;
        loadImageForSource(source, [store, source](std::optional<QImage> image) {
            storeIconSearchOutcome(source, std::move(image), store);
        });
    }
}

void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::shared_ptr<SourcesData> sourcesData)
{
    storeIconSearchOutcome(source, std::move(image), [source, sourcesData = std::move(sourcesData)] {
        sourcesData->updateSource(source);
    });
}

void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::function<void()> saveMarked)
{
    if (image) {
        SourceIconData::setIconForSource(source, *image);
        return;
    }
    // The list may have changed since the search began; the stores' updates only touch
    // entries still there, and the main queue keeps them from racing the application's changes.
    MainQueue::dispatchAsync([source, saveMarked = std::move(saveMarked)] {
        source->noIconFound = true;
        saveMarked();
    });
}

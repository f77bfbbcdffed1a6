#include "data/sync/FirstSightings.h"

#include "data/model/NewsStory.h"
#include "data/model/StoredStoriesData.h"

#include <algorithm>

namespace Tickerly::Data {

FirstSightings::FirstSightings(qint64 loadedMSecs)
    : m_loaded(loadedMSecs)
{
}

qint64 FirstSightings::rankingTime(NewsStory& story)
{
    const qint64 date = story.date() ? story.date()->toMSecsSinceEpoch() : 0;
    if (date <= m_loaded + NewsStory::allowedClockSkewSeconds * 1000)
        return date;
    std::call_once(m_read, [this] { readSightings(); });
    // A sighting after this loading (a clock set back since) is none.
    const qint64 seen
        = std::min(m_seen.value(StoredStoriesData::sightingIdentity(story), m_loaded), m_loaded);
    story.setFirstSeen(QDateTime::fromMSecsSinceEpoch(seen, Qt::UTC));
    return seen;
}

void FirstSightings::readSightings()
{
    const StoredStoriesData stored;
    if (auto kept = stored.firstSightings()) {
        m_seen = std::move(*kept);
        return;
    }
    // A list an older build stored tells its sightings only when it is read, as does one with
    // more of them than are kept apart.
    const std::optional<QDateTime> lastLoaded = stored.lastLoaded();
    for (const std::shared_ptr<NewsStory>& story : stored.storedStories()) {
        std::optional<QDateTime> seen = story->firstSeen();
        if (!seen)
            seen = lastLoaded;
        if (seen && seen->isValid())
            m_seen.insert(StoredStoriesData::sightingIdentity(*story), seen->toMSecsSinceEpoch());
    }
}

} // namespace Tickerly::Data

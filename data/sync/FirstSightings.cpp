#include "data/sync/FirstSightings.h"

#include "data/model/NewsStory.h"
#include "data/model/StoredStoriesData.h"

#include <algorithm>

namespace Tickerly::Data {

namespace {

QString identity(const NewsStory& story)
{
    if (story.link())
        return story.link()->absoluteString();
    return story.headline().value_or(QString());
}

} // namespace

FirstSightings::FirstSightings(qint64 loadedMSecs)
    : m_loaded(loadedMSecs)
{
}

qint64 FirstSightings::rankingTime(NewsStory& story)
{
    const qint64 date = story.date() ? story.date()->toMSecsSinceEpoch() : 0;
    if (date <= m_loaded + NewsStory::allowedClockSkewSeconds * 1000)
        return date;
    std::call_once(m_read, [this] { readStoredList(); });
    // A sighting after this loading (a clock set back since) is none.
    const qint64 seen = std::min(m_seen.value(identity(story), m_loaded), m_loaded);
    story.setFirstSeen(QDateTime::fromMSecsSinceEpoch(seen, Qt::UTC));
    return seen;
}

void FirstSightings::readStoredList()
{
    const StoredStoriesData stored;
    const std::optional<QDateTime> lastLoaded = stored.lastLoaded();
    for (const std::shared_ptr<NewsStory>& story : stored.storedStories()) {
        std::optional<QDateTime> seen = story->firstSeen();
        if (!seen)
            seen = lastLoaded;
        if (seen && seen->isValid())
            m_seen.insert(identity(*story), seen->toMSecsSinceEpoch());
    }
}

} // namespace Tickerly::Data

#pragma once

#include "data/Namespace.h"

#include <QHash>
#include <QString>

#include <mutex>

namespace Tickerly::Data {

class NewsStory;

// When the stories of a refresh that are dated after their loading were first seen, so that
// they rank by that sighting and later stories pass them, rather than heading the list at every
// refresh. A story the stored list already held was seen when it says, or at the latest when
// that list was stored; any other is seen now.
//
// One per refresh run, made with the run's time of loading. The sightings the store keeps beside
// the list are read once, the first time a story dated ahead asks (most refreshes have none and
// read nothing), and the list itself only when those do not answer for it. Any thread.
class FirstSightings {
public:
    explicit FirstSightings(qint64 loadedMSecs);

    // The time in milliseconds since 1970 the story ranks by: its date (0 when undated), or
    // for a story dated after its loading, beyond clock skew, its first sighting, which is then
    // set on the story for the store to keep.
    qint64 rankingTime(NewsStory& story);

private:
    void readSightings();

    const qint64 m_loaded;
    std::once_flag m_read;
    // Stored stories by identity (link, else headline), when each was first seen.
    QHash<QString, qint64> m_seen;
};

} // namespace Tickerly::Data

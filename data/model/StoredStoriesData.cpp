#include "data/model/StoredStoriesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"
#include "data/model/StoryStateData.h"

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString storedStoriesKey = u"velmora.TickerlyShared.StoredStories"_s;
const QString lastLoadedKey = u"velmora.TickerlyShared.LastLoaded"_s;
} // namespace

StoredStoriesData::StoredStoriesData(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
{
}

QList<std::shared_ptr<NewsStory>> StoredStoriesData::storedStories() const
{
    NewsStory::registerArchiveClasses();
    return archivedList<NewsStory>(m_localStore->data(storedStoriesKey), u"story"_s);
}

QList<std::shared_ptr<NewsStory>> StoredStoriesData::currentStories(std::optional<int> limit) const
{
    StoryStateData states(m_localStore);
    const qsizetype wanted = limit ? std::max(*limit, 0) : std::numeric_limits<qsizetype>::max();
    QList<std::shared_ptr<NewsStory>> kept;
    for (auto& story : storedStories()) {
        if (kept.size() >= wanted)
            break;
        const QString link = story->link() ? story->link()->absoluteString() : QString();
        if (states.stateForLink(link) != StoryState::Deleted)
            kept.append(std::move(story));
    }
    return kept;
}

void StoredStoriesData::storeStories(const QList<std::shared_ptr<NewsStory>>& stories)
{
    storeArchive(KeyedArchiver::archivedDataWithRootObjects(stories));
}

void StoredStoriesData::storeEncodedStories(QList<QByteArray> encodedStories)
{
    const QByteArray archive = KeyedArchiver::archivedDataWithEncodedRootArray(encodedStories);
    encodedStories.clear();
    storeArchive(archive);
}

void StoredStoriesData::storeArchive(const QByteArray& archive)
{
    // One transaction: no reader sees the new list with the old time, or the other way round.
    m_localStore->setValues({ { storedStoriesKey, archive }, { lastLoadedKey, QDateTime::currentDateTimeUtc() } });
}

std::optional<QDateTime> StoredStoriesData::lastLoaded() const
{
    return m_localStore->date(lastLoadedKey);
}

void StoredStoriesData::updateImage(const QImage& image, const NewsStory& story)
{
    NewsStory::registerArchiveClasses();
    // Read and written in one step of the store: a list the other process stores meanwhile is
    // never replaced by this older one.
    m_localStore->update(storedStoriesKey, [&](const std::optional<QVariant>& current) -> std::optional<QVariant> {
        const auto stories = archivedList<NewsStory>(archivedBytes(current), u"story"_s);
        for (const auto& stored : stories) {
            if (*stored == story)
                stored->setImage(image);
        }
        return QVariant(KeyedArchiver::archivedDataWithRootObjects(stories));
    });
    m_localStore->set(lastLoadedKey, QDateTime::currentDateTimeUtc());
}

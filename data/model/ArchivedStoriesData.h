#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/StateList.h"
#include "data/model/StoryState.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Data {

// Whole stories kept with a state, by their link, in a settings suite (the shared one unless
// another is given), so stories can be listed again by state. At most 500 records, the most
// recently set first.
//
// Caches like StoryStateData: per object, until flushCache() or its own next write; every
// setState is one atomic change of the stored list. A stored record without its story or with
// a state outside 0 to 3 is left out. An object is used by one thread at a time.
class TICKERLYDATAMAC_EXPORT ArchivedStoriesData {
public:
    class TICKERLYDATAMAC_EXPORT StateDescription : public Foundation::Coding {
    public:
        StateDescription(std::shared_ptr<NewsStory> story, StoryState state);
        // Null unless "story" holds a story and "state" a number from 0 to 3.
        static std::shared_ptr<StateDescription> initWithCoder(
            const Foundation::KeyedUnarchiver& coder);
        void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
        QString archivedClassName() const override;

        std::shared_ptr<NewsStory> story;
        StoryState state;
    };
    using StateDescriptions = QList<std::shared_ptr<StateDescription>>;

    explicit ArchivedStoriesData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    // Records the story with `state`, replacing the record of its link; None removes it.
    // Kept when another process keeps the store locked (written later), Failed when refused.
    Foundation::UserDefaults::Outcome setState(
        const std::shared_ptr<NewsStory>& story, StoryState state);
    StoryState stateForStory(const NewsStory& story);
    StoryState stateForLink(const QString& link);
    // Once the store is full (500 records), the date of the oldest story it holds; nothing
    // before that, or when that story has no date.
    std::optional<QDateTime> suggestedMaxAge();
    // The stories whose record has exactly `state`, most recently set first.
    QList<std::shared_ptr<NewsStory>> storiesWithState(StoryState state);
    QList<std::shared_ptr<NewsStory>> storiesMatchingPredicate(
        const std::function<bool(const StateDescription&)>& predicate);
    void flushCache();

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const
    {
        return m_states.localStore();
    }
    const std::optional<StateDescriptions>& cachedData() const { return m_states.cachedData(); }
    const std::optional<QHash<QString, StoryState>>& linkStateCache() const
    {
        return m_states.linkStateCache();
    }

    static void registerArchiveClasses();

private:
    StateLists::StateList<StateDescription> m_states;
};

} // namespace Tickerly::Data

#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/StateList.h"
#include "data/model/StoryState.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::Data {

// The state of each story (read, deleted) by its link, kept in a settings suite (the shared one
// unless another is given) so the application and the widget agree on it across refreshes. At
// most 500 records, the most recently set first.
//
// Each object caches the list it read until flushCache() or its own next write; a state set
// through another object or by the other program is seen after a flush. Every setState is one
// atomic change of the stored list, so states set at the same time elsewhere are never lost.
// An object is used by one thread at a time.
class TICKERLYDATAMAC_EXPORT StoryStateData {
public:
    // The record of one story's state. A record read without a usable link stays in the list but
    // never matches.
    class TICKERLYDATAMAC_EXPORT StateDescription : public Foundation::Coding {
    public:
        StateDescription(Foundation::Url storyLink, StoryState state);
        static std::shared_ptr<StateDescription> initWithCoder(
            const Foundation::KeyedUnarchiver& coder);
        void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
        QString archivedClassName() const override;

        std::optional<Foundation::Url> storyLink;
        StoryState state;
    };
    using StateDescriptions = QList<std::shared_ptr<StateDescription>>;

    explicit StoryStateData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    // Sent on the main queue when a state kept for later was written, or refused in the end
    // (refusedChangeKey true in the user info: it is undone); ArchivedStoriesData's states send
    // it too. A kept state reads as set in this process until then.
    static QString keptChangeNotification();
    static QString refusedChangeKey();

    // Records `state` for the story's link, replacing its earlier state; None removes it.
    // Kept when another process keeps the store locked (written later), Failed when refused.
    Foundation::UserDefaults::Outcome setState(const NewsStory& story, StoryState state);
    // None for the empty text and for a link without record.
    StoryState stateForLink(const QString& link);
    StoryState stateForStory(const NewsStory& story);
    // Forgets the loaded list; the next question reads the suite again.
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

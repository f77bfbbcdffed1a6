#pragma once

#include "data/Namespace.h"
#include "data/model/HotStory.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QList>

#include <functional>
#include <memory>

namespace Tickerly::Data {

class NewsStory;

// The list of hot stories, kept as one keyed archive in a settings suite (the shared one unless
// another is given), and the question whether a story is one of them.
//
// The list is read once, when the object is made: later changes by another object or the other
// program are not seen; make a new object for the current list. Every change is stored at once.
// Used by one thread at a time.
class TICKERLYDATAMAC_EXPORT HotStoriesData {
public:
    using HotStoryList = QList<std::shared_ptr<HotStory>>;

    explicit HotStoriesData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    // The list as it was stored when this object was made, with this object's own changes.
    // Records that could not be read are left out.
    const HotStoryList& hotStories() const { return m_hotStories; }
    // Holds and stores `hotStories` in place of the whole list.
    Foundation::UserDefaults::Outcome setHotStories(const HotStoryList& hotStories);
    // Lets `change` edit the stored list and stores the result, as one atomic step; this object
    // then holds the result. While another process holds the store the change is kept and made
    // later, on whichever thread next writes it, so `change` must own what it uses; this object
    // then holds its own list changed.
    Foundation::UserDefaults::Outcome modifyHotStories(std::function<void(HotStoryList&)> change);

    // Whether a held hot story's canonical URL is the story's link, compared as exact text
    // (no case folding, no trailing-slash tolerance). A story without a link is never hot.
    bool isStoryHot(const NewsStory& story) const;

private:
    std::shared_ptr<Foundation::UserDefaults> m_localStore;
    HotStoryList m_hotStories;
};

} // namespace Tickerly::Data

#pragma once

#include "data/Namespace.h"
#include "data/model/TopFeedSource.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QList>

#include <functional>
#include <memory>

namespace Tickerly::Data {

// The list of popular feeds of the last refresh, kept as one keyed archive in a settings suite
// (the shared one unless another is given), so the popular-feeds panel can show it at once.
//
// A light object: nothing is cached, every read decodes the stored list afresh, and every change
// of the stored list is one atomic read-modify-write of the suite, so a change made at the same
// time by another thread or the other program is never lost. Any thread.
class TICKERLYDATAMAC_EXPORT TopFeedsData {
public:
    using TopFeedList = QList<std::shared_ptr<TopFeedSource>>;

    explicit TopFeedsData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const { return m_localStore; }

    // The stored list; empty when nothing usable is stored. Records that cannot be read are
    // left out.
    TopFeedList topFeeds() const;
    // Each change says how the store took it. None waits for another process holding the store:
    // the change is then kept and made later, on whichever thread next writes the store.

    // Stores `topFeeds` in place of the whole list.
    Foundation::UserDefaults::Outcome setTopFeeds(const TopFeedList& topFeeds);
    // Lets `change` edit the stored list and stores the result, as one atomic step. `change`
    // must own what it uses: a kept change runs after the call has returned.
    Foundation::UserDefaults::Outcome modifyTopFeeds(std::function<void(TopFeedList&)> change);

    // Puts (a copy of) `feed` in place of the first stored record equal to it (same source
    // title and link). A feed that matches no record is not added, and nothing is written.
    Foundation::UserDefaults::Outcome updateFeed(const std::shared_ptr<TopFeedSource>& feed);

private:
    // Runs `change` on the stored list as one transaction; it returns whether to write.
    Foundation::UserDefaults::Outcome changeTopFeeds(std::function<bool(TopFeedList&)> change);

    std::shared_ptr<Foundation::UserDefaults> m_localStore;
};

} // namespace Tickerly::Data

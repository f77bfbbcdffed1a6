#pragma once

#include "data/Namespace.h"
#include "api/TickerlyAPIClient.h"
#include "api/TickerlyStaticAPIClient.h"
#include "data/model/TopFeedSource.h"
#include "platform/foundation/base/Url.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"

#include "tickerlydatamac_export.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Tickerly::Foundation {
class UrlSession;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

// The product's servers the syncs ask. Configuration; the defaults are the production hosts.
struct TICKERLYDATAMAC_EXPORT ProductServers {
    Foundation::Url staticFiles = API::TickerlyStaticAPIClient::defaultBaseURL();
    Foundation::Url api = API::TickerlyAPIClient::defaultBaseURL();

    // Any thread; a change applies to syncs started afterwards.
    static ProductServers current();
    static void setCurrent(const ProductServers& servers);
};

// Brings the popular feeds into the shared suite: the static host's list of feed addresses and
// hit counts, each address turned into a source by feed discovery. The list is stored whole,
// then the icons of all its feeds are searched, and the update is announced at once, on the
// main thread, before any icon arrives (icons are announced by the icon store).
//
// Class functions only; holds no state. Any thread.
class TICKERLYDATAMAC_EXPORT TopFeedsSync {
public:
    using TopFeedList = QList<std::shared_ptr<TopFeedSource>>;
    using FeedPromise = Linkwork::Promise<std::optional<std::shared_ptr<TopFeedSource>>>;

    // "velmora.Tickerly.TopFeedsSync.didUpdateNotification", posted on the default centre with
    // no object and no user information.
    static QString didUpdateNotification();

    // Starts a refresh and returns at once. A server error stores, searches and posts nothing;
    // feeds whose discovery fails are left out. Nobody hears of the outcome but the observers.
    static void update();

private:
    // The discovery of one reference over `session`: the popular feed, or nothing.
    static std::function<FeedPromise(const API::FeedReference&)> feedSourceFromReference(
        std::shared_ptr<Foundation::UrlSession> session);
    // The feeds that were found, in the order of `feeds`, once every discovery has ended.
    static Linkwork::Promise<TopFeedList> feedsWithoutNil(const std::vector<FeedPromise>& feeds);
    // Stores the list, starts the icon searches and posts the notification, on the main queue.
    static void didLoad(const TopFeedList& feeds);
};

// Replaces the shared table of source display names with the static host's table.
class TICKERLYDATAMAC_EXPORT SourceNamesSync {
public:
    // Ok once the table is stored (on the main queue, where the promise is then set), or the
    // fetch's error with the stored table left as it was. Any thread; nobody need wait.
    static Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> update();
};

// Replaces the shared list of hot stories with the API server's list.
class TICKERLYDATAMAC_EXPORT HotStoriesSync {
public:
    // Ok once the list is stored (on the main queue, where the promise is then set), or the
    // fetch's error with the stored list left as it was. Any thread.
    static Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> reload();
};

} // namespace Tickerly::Data

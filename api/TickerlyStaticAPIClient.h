#pragma once

#include "api/Namespace.h"
#include "api/JSON.h"
#include "api/NetworkClient.h"
#include "platform/foundation/base/Url.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"
#include "tickerlyapimac_export.h"

#include <QList>
#include <QMap>
#include <QString>

namespace Tickerly::API {

// A popular feed as the static file host lists it.
struct TICKERLYAPIMAC_EXPORT FeedReference {
    Foundation::Url url; // the feed's link
    qint64 hits = 0;

    friend bool operator==(const FeedReference&, const FeedReference&) = default;
};

// The client of the product's static file host: the popular feeds and the display names of
// sources. Every call returns at once; its promise is set on the network client's queue, where
// the reply is also read. Errors of the network client pass through unchanged.
//
// Any thread; whoever makes it owns it. Destroying it lets running requests finish.
class TICKERLYAPIMAC_EXPORT TickerlyStaticAPIClient {
public:
    // The static file host in production: http, under "/app-static".
    static Foundation::Url defaultBaseURL();

    TickerlyStaticAPIClient();
    // A client of the host at `baseURL` (the files' paths follow its path directly).
    explicit TickerlyStaticAPIClient(Foundation::Url baseURL);

    // GET "/popular.json", read by `parseFeeds`.
    Linkwork::Promise<Linkwork::Result<QList<FeedReference>>> topFeeds();
    // The elements of an array reply with a URL under "url" and a number under "hits", in order;
    // every other element, and every other reply, gives nothing.
    static QList<FeedReference> parseFeeds(const JSON& json);
    // GET "/names.json": display names by feed link. A reply that is not an object of strings
    // only is an Error (Linkwork::noValueError()), never a partial table.
    Linkwork::Promise<Linkwork::Result<QMap<QString, QString>>> names();

    NetworkClient& client() { return m_client; }
    const Foundation::Url& baseURL() const { return m_baseURL; }

private:
    NetworkClient m_client;
    const Foundation::Url m_baseURL;
};

} // namespace Tickerly::API

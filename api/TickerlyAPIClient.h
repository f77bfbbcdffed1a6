#pragma once

#include "api/Namespace.h"
#include "api/JSON.h"
#include "api/NetworkClient.h"
#include "platform/foundation/base/Url.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"
#include "tickerlyapimac_export.h"

#include <QList>
#include <QString>

#include <optional>

namespace Tickerly::API {

// A hot story as the API server lists it.
struct TICKERLYAPIMAC_EXPORT StoryReference {
    Foundation::Url url; // the story's canonical address
    qint64 hits = 0;

    friend bool operator==(const StoryReference&, const StoryReference&) = default;
};

// The client of the product's API server: the hot stories, and the reports that the user added a
// feed or opened a story. Every call returns at once; its promise is set on the network client's
// queue, where the reply is also read. Errors of the network client pass through unchanged.
//
// Any thread; whoever makes it owns it. Destroying it lets running requests finish.
class TICKERLYAPIMAC_EXPORT TickerlyAPIClient {
public:
    // The API server in production: http, port 4000, under "/api/v1".
    static Foundation::Url defaultBaseURL();

    TickerlyAPIClient();
    // A client of the server at `baseURL` (the calls' paths follow its path directly).
    explicit TickerlyAPIClient(Foundation::Url baseURL);

    // POST "/feeds/added" {"feed": {"language", "url", "user_id"[, "search_string"]}};
    // "search_string" goes whenever a search string is given, an empty one included.
    Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> feedAdded(
        const QString& language, const QString& link, const QString& userId);
    Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> feedAdded(const QString& language,
        const QString& link, const std::optional<QString>& searchString, const QString& userId);
    // POST "/stories/clicked" {"story": {"language", "index" (a number), "url", "user_id"
    // [, "canonical_url"]}}; "canonical_url" goes only when given.
    Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> storyClicked(
        const QString& language, qint64 index, const QString& url, const QString& userId);
    Linkwork::Promise<Linkwork::Result<Linkwork::Empty>> storyClicked(const QString& language,
        qint64 index, const QString& url, const std::optional<QString>& canonicalUrl,
        const QString& userId);
    // GET "/stories/hot", read by `parseStories`.
    Linkwork::Promise<Linkwork::Result<QList<StoryReference>>> hotStories();

    // The elements of an array reply with a URL under "canonical_url" and a number under "hits",
    // in order; every other element, and every other reply, gives nothing.
    static QList<StoryReference> parseStories(const JSON& json);

    NetworkClient& client() { return m_client; }
    const Foundation::Url& baseURL() const { return m_baseURL; }

private:
    NetworkClient m_client;
    const Foundation::Url m_baseURL;
};

} // namespace Tickerly::API

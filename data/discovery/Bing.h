#pragma once

#include "data/Namespace.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/network/UrlRequest.h"
#include "platform/linkwork/DataTask.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

// The account key of the web-search service in its stored form (43 characters of the base64
// alphabet), as the deployment supplies it: the environment variable TICKERLY_SEARCH_KEY, else
// the first line of "tickerly/search-key" in the user's configuration directory
// ($XDG_CONFIG_HOME, else ~/.config). Empty when neither holds one. Read afresh on every call.
TICKERLYDATAMAC_EXPORT QString bingKey();
// A second key of the same kind, 44 characters, stored whole. Nothing reads it.
TICKERLYDATAMAC_EXPORT extern const QString bingKeyDevelopment;

// A small client of the web-search service: sends search words and answers with the address of
// the first web result. Each search is one request and one promised answer; nothing is retried
// or cancelled. The steps are virtual so they can be replaced one by one.
//
// Holds nothing mutable; any thread may search. Answers arrive on the session's delegate queue.
// Always held by shared_ptr: a search keeps its client alive until it has been answered.
class TICKERLYDATAMAC_EXPORT Bing : public std::enable_shared_from_this<Bing> {
public:
    // The errors of this client's own making.
    static const QString ErrorDomain;
    enum ErrorCode {
        NoAccountKey = 1, // the deployment supplied no key
    };

    // `session` null: a new session with the default configuration.
    explicit Bing(std::shared_ptr<Foundation::UrlSession> session = nullptr);
    virtual ~Bing();

    const std::shared_ptr<Foundation::UrlSession>& session() const { return m_session; }

    // The address of the first web result for `query`, or the error that stopped the search.
    virtual Linkwork::Promise<Linkwork::Result<Foundation::Url>> search(const QString& query);
    // Builds the request and starts it; the body and response, or the transport error.
    virtual Linkwork::Promise<Linkwork::Result<Linkwork::DataTaskResponse>> loadDataForSearchString(
        const QString& query);
    // The first result's address in the reply body. The response is not looked at.
    virtual Linkwork::Result<Foundation::Url> handleResponse(
        const QByteArray& data, const Foundation::UrlResponse& response);
    virtual std::optional<Foundation::Url> urlForSearchString(const QString& query);
    virtual Foundation::UrlRequest urlRequestForUrl(const Foundation::Url& url);
    virtual QString authorizationValueForKey(const QString& key);
    virtual std::optional<Foundation::Url> parseResult(const QVariantMap& answer);

    // The host of the web-search endpoint; configuration, so tests can point it elsewhere.
    // Any thread.
    static QString searchHost();
    static void setSearchHost(const QString& host);

private:
    const std::shared_ptr<Foundation::UrlSession> m_session;
};

} // namespace Tickerly::Data

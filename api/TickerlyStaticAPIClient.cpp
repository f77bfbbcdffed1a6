#include "api/TickerlyStaticAPIClient.h"

#include "api/APIRequest.h"
#include "platform/linkwork/Chain.h"

namespace Tickerly::API {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

Url TickerlyStaticAPIClient::defaultBaseURL()
{
    return *Url::fromString(u"http://static.tickerly.app/app-static"_s);
}

TickerlyStaticAPIClient::TickerlyStaticAPIClient()
    : TickerlyStaticAPIClient(defaultBaseURL())
{
}

TickerlyStaticAPIClient::TickerlyStaticAPIClient(Url baseURL)
    : m_baseURL(std::move(baseURL))
{
}

Promise<Result<QList<FeedReference>>> TickerlyStaticAPIClient::topFeeds()
{
    return APIRequest::GET(u"/popular.json"_s).URLRequest(m_baseURL) >>
        [this](const UrlRequest& r) { return m_client.performRequest(r); } >> parseFeeds;
}

QList<FeedReference> TickerlyStaticAPIClient::parseFeeds(const JSON& json)
{
    const auto feeds = json.arrayValue() >> [](const JSON& element) {
        return (element[u"url"_s].URL() + element[u"hits"_s].int_()) >>
            [](const std::pair<Url, qint64>& pair) {
                return FeedReference { pair.first, pair.second };
            };
    };
    return QList<FeedReference>(feeds.begin(), feeds.end());
}

Promise<Result<QMap<QString, QString>>> TickerlyStaticAPIClient::names()
{
    return APIRequest::GET(u"/names.json"_s).URLRequest(m_baseURL) >> [this](const UrlRequest& r) {
        return m_client.performRequest(r);
    } >> [](const JSON& json) -> std::optional<QMap<QString, QString>> {
        const auto dictionary = json.dictionary();
        if (!dictionary)
            return std::nullopt;
        QMap<QString, QString> names;
        for (auto it = dictionary->constBegin(); it != dictionary->constEnd(); ++it) {
            const std::optional<QString> name = it.value().string();
            if (!name)
                return std::nullopt;
            names.insert(it.key(), *name);
        }
        return names;
    };
}

} // namespace Tickerly::API

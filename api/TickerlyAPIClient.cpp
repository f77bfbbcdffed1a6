#include "api/TickerlyAPIClient.h"

#include "api/APIRequest.h"
#include "platform/linkwork/Chain.h"

namespace Tickerly::API {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

Url TickerlyAPIClient::defaultBaseURL()
{
    return *Url::fromString(u"http://api.tickerly.app:4000/api/v1"_s);
}

TickerlyAPIClient::TickerlyAPIClient()
    : TickerlyAPIClient(defaultBaseURL())
{
}

TickerlyAPIClient::TickerlyAPIClient(Url baseURL)
    : m_baseURL(std::move(baseURL))
{
}

Promise<Result<Empty>> TickerlyAPIClient::feedAdded(
    const QString& language, const QString& link, const QString& userId)
{
    return feedAdded(language, link, std::nullopt, userId);
}

Promise<Result<Empty>> TickerlyAPIClient::feedAdded(const QString& language, const QString& link,
    const std::optional<QString>& searchString, const QString& userId)
{
    QVariantMap feed { { u"language"_s, language }, { u"url"_s, link }, { u"user_id"_s, userId } };
    if (searchString)
        feed.insert(u"search_string"_s, searchString->isNull() ? u""_s : *searchString);
    auto request = APIRequest::POST(u"/feeds/added"_s);
    request.setBodyValue(feed, u"feed"_s);
    request.setEncodeBodyAsJSON(true);
    return request.URLRequest(m_baseURL) >>
        [this](const UrlRequest& r) { return m_client.performRequest(r); } >> [](const JSON&) {};
}

Promise<Result<Empty>> TickerlyAPIClient::storyClicked(
    const QString& language, qint64 index, const QString& url, const QString& userId)
{
    return storyClicked(language, index, url, std::nullopt, userId);
}

Promise<Result<Empty>> TickerlyAPIClient::storyClicked(const QString& language, qint64 index,
    const QString& url, const std::optional<QString>& canonicalUrl, const QString& userId)
{
    QVariantMap story {
        { u"language"_s, language },
        { u"index"_s, index },
        { u"url"_s, url },
        { u"user_id"_s, userId },
    };
    if (canonicalUrl)
        story.insert(u"canonical_url"_s, canonicalUrl->isNull() ? u""_s : *canonicalUrl);
    auto request = APIRequest::POST(u"/stories/clicked"_s);
    request.setBodyValue(story, u"story"_s);
    request.setEncodeBodyAsJSON(true);
    return request.URLRequest(m_baseURL) >>
        [this](const UrlRequest& r) { return m_client.performRequest(r); } >> [](const JSON&) {};
}

Promise<Result<QList<StoryReference>>> TickerlyAPIClient::hotStories()
{
    return APIRequest::GET(u"/stories/hot"_s).URLRequest(m_baseURL) >>
        [this](const UrlRequest& r) { return m_client.performRequest(r); } >> parseStories;
}

QList<StoryReference> TickerlyAPIClient::parseStories(const JSON& json)
{
    const auto stories = json.arrayValue() >> [](const JSON& element) {
        return (element[u"canonical_url"_s].URL() + element[u"hits"_s].int_()) >>
            [](const std::pair<Url, qint64>& pair) {
                return StoryReference { pair.first, pair.second };
            };
    };
    return QList<StoryReference>(stories.begin(), stories.end());
}

} // namespace Tickerly::API

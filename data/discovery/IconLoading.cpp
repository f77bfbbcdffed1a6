#include "data/discovery/IconLoading.h"

#include "data/discovery/IconFetcher.h"
#include "data/model/Source.h"
#include "data/sync/FeedParser.h"
#include "data/sync/StringExtensions.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSession.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

void loadImageForSource(
    const std::shared_ptr<Source>& source, std::function<void(std::optional<QImage>)> completion)
{
    if (!source) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    const QString& link = source->link();
    const bool videoSite = link.contains(u'.' + IconFetcher::outsideHosts().videoSiteLabel + u'.');
    std::optional<Url> page = source->sourceLink;
    if (!page && videoSite)
        page = Url::fromString(link);
    if (!page)
        page = findBaseURL(link);
    if (!page) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    // Read now: the source object belongs to the caller's thread.
    const std::optional<Url> feedImage
        = source->feedParser ? source->feedParser->imageURL : std::nullopt;
    IconFetcher::fetchIcon(*page, videoSite ? SiteVersion::Desktop : SiteVersion::Mobile, nullptr,
        [feedImage, completion](std::optional<QImage> image) {
            if (image || !feedImage) {
                if (completion)
                    completion(std::move(image));
                return;
            }
            loadIcon(*UrlSession::create(), *feedImage, completion);
        });
}

std::optional<Url> findBaseURL(const QString& link)
{
    const auto host = find(link, u"http(s)?://[^/]*"_s, Qt::CaseInsensitive, 7);
    if (!host)
        return std::nullopt;
    const auto domain = find(*host, u"[a-z0-9]*\\.(co\\.)?[a-z0-9]*$"_s);
    if (!domain)
        return std::nullopt;
    QString scheme;
    if (const auto parsed = Url::fromString(link))
        scheme = parsed->scheme();
    if (scheme.isEmpty())
        scheme = u"http"_s;
    return Url::fromString(scheme + u"://"_s + *domain);
}

void loadImage(const Url& fromURL, std::function<void(std::optional<QImage>)> completion)
{
    loadImage(*UrlSession::create(), fromURL, std::move(completion));
}

void getFeedMetadata(
    const Url& url, std::function<void(std::optional<QString>, std::optional<Url>)> completion)
{
    loadData(*UrlSession::create(), SiteVersion::Desktop, url,
        [completion](std::optional<QByteArray> data) {
            std::optional<QString> title;
            std::optional<Url> imageURL;
            if (data) {
                const FeedParser parser(*data, nullptr);
                title = parser.title;
                imageURL = parser.imageURL;
            }
            MainQueue::dispatchAsync([completion, title, imageURL] {
                if (completion)
                    completion(title, imageURL);
            });
        });
}

} // namespace Tickerly::Data

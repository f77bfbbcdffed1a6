#include "data/discovery/IconFetcher.h"

#include "data/model/Shared.h"
#include "data/sync/StringExtensions.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/network/UrlSession.h"

#include <nlohmann/json.hpp>

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

std::mutex hostsMutex;

IconFetcher::OutsideHosts& configuredHosts()
{
    // Never destroyed: workers read it to the end.
    static auto& hosts = *new IconFetcher::OutsideHosts;
    return hosts;
}

} // namespace

IconFetcher::OutsideHosts IconFetcher::outsideHosts()
{
    std::lock_guard lock(hostsMutex);
    return configuredHosts();
}

void IconFetcher::setOutsideHosts(const OutsideHosts& hosts)
{
    std::lock_guard lock(hostsMutex);
    configuredHosts() = hosts;
}

void IconFetcher::fetchIcon(const Url& forURL, SiteVersion startWith,
    std::shared_ptr<UrlSession> session, Completion completion)
{
    auto fetcher = std::make_shared<IconFetcher>(forURL, std::move(session));
    debugprint(u"Trying to find icon for "_s + forURL.absoluteString());
    fetcher->getImage(startWith, forURL, std::move(completion));
}

IconFetcher::IconFetcher(Url url, std::shared_ptr<UrlSession> session)
    : m_url(std::move(url))
    , m_session(session ? std::move(session) : UrlSession::create())
{
}

void IconFetcher::setSession(std::shared_ptr<UrlSession> session)
{
    if (session)
        m_session = std::move(session);
}

void IconFetcher::getImage(SiteVersion version, const Url& url, Completion completion)
{
    auto self = shared_from_this();
    loadSource(
        *m_session, version, url, [self, version, url, completion](std::optional<QString> page) {
            // A page that does not load is not asked for again as a desktop page.
            if (!page) {
                if (completion)
                    completion(std::nullopt);
                return;
            }
            self->getImage(*page, [self, version, url, completion](std::optional<QImage> image) {
                if (!image && version == SiteVersion::Mobile) {
                    self->getImage(SiteVersion::Desktop, url, completion);
                    return;
                }
                if (completion)
                    completion(std::move(image));
            });
        });
}

void IconFetcher::getImage(const QString& fromSource, Completion completion)
{
    tryMethods({ std::make_shared<YoutubeMethod>(*this, fromSource),
                   std::make_shared<AppIconMethod>(*this, fromSource),
                   std::make_shared<TouchIconMethod>(*this, fromSource),
                   std::make_shared<ShortcutIconMethod>(*this, fromSource),
                   std::make_shared<FaviconMethod>(*this, fromSource) },
        std::move(completion));
}

void IconFetcher::tryMethods(QList<std::shared_ptr<IconFetchMethod>> methods, Completion completion)
{
    if (methods.isEmpty()) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    const auto method = methods.takeFirst();
    auto self = shared_from_this();
    method->tryIcon(
        [self, method, rest = std::move(methods), completion](std::optional<QImage> image) {
            if (image) {
                if (completion)
                    completion(std::move(image));
                return;
            }
            self->tryMethods(rest, completion);
        });
}

IconFetchMethod::IconFetchMethod(IconFetcher& owner, QString page)
    : fetcher(owner)
    , source(std::move(page))
{
}

IconFetchMethod::~IconFetchMethod() = default;

void IconFetchMethod::loadIcon(const std::optional<Url>& link, IconFetcher::Completion completion)
{
    if (!link || !link->isValid()) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    Tickerly::Data::loadIcon(*fetcher.session(), *link, std::move(completion));
}

std::optional<Url> IconFetchMethod::linkOfTag(
    const QString& pattern, const QString& attributeName) const
{
    const auto tag = find(source, pattern);
    if (!tag)
        return std::nullopt;
    return findQuotedLink(*tag, fetcher.url(), attributeName);
}

void YoutubeMethod::tryIcon(IconFetcher::Completion completion)
{
    std::optional<Url> channelPage;
    if (const auto id = channelId(fetcher.url()))
        channelPage = Url::fromString(
            u"https://"_s + IconFetcher::outsideHosts().videoSiteHost + u"/channel/"_s + *id);
    if (!channelPage) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    // The thumbnail's root-relative link is joined to the searched page, not the channel page.
    auto owner = fetcher.shared_from_this();
    loadSource(*fetcher.session(), SiteVersion::Desktop, *channelPage,
        [this, owner, completion](std::optional<QString> page) {
            if (!page) {
                if (completion)
                    completion(std::nullopt);
                return;
            }
            loadIcon(thumbnailURL(*page, owner->url()), completion);
        });
}

std::optional<Url> YoutubeMethod::thumbnailURL(const QString& source, const Url& baseUrl)
{
    const auto tag = find(source, u"<link[^>]*itemprop=[\"']thumbnailUrl[\"'][^>]*>"_s);
    if (!tag)
        return std::nullopt;
    return findQuotedLink(*tag, baseUrl, u"href"_s);
}

std::optional<QString> YoutubeMethod::channelId(const Url& url)
{
    if (url.absoluteString().isEmpty())
        return std::nullopt;
    return find(url.absoluteString(), u"channel_id=.*$"_s, Qt::CaseInsensitive, 11);
}

void AppIconMethod::tryIcon(IconFetcher::Completion completion)
{
    debugprint(u"Trying to find app icon"_s);
    const auto appId = findMetaTagAppId();
    if (!appId || *appId <= 0) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    loadAppInfo(*appId, [this, completion](std::optional<nlohmann::json> info) {
        loadIcon(info ? getIconUrl(*info) : std::nullopt, completion);
    });
}

std::optional<qint64> AppIconMethod::findMetaTagAppId() const
{
    const auto tag = find(source, u"<meta[^>]*name=[\"']apple-itunes-app[\"'][^>]*>"_s);
    if (!tag)
        return std::nullopt;
    const auto digits = find(*tag, u"app-id=[0-9]*"_s, Qt::CaseInsensitive, 7);
    if (!digits)
        return std::nullopt;
    if (digits->isEmpty())
        return 0;
    bool ok = false;
    const qint64 id = digits->toLongLong(&ok);
    // A run too long for 64 bits names no app.
    if (!ok)
        return std::nullopt;
    return id;
}

void AppIconMethod::loadAppInfo(
    qint64 appId, std::function<void(std::optional<nlohmann::json>)> completion)
{
    const auto lookup
        = Url::fromString(u"http://"_s + IconFetcher::outsideHosts().appStoreLookupHost
            + u"/lookup?id="_s + QString::number(appId));
    if (!lookup) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    // The rule outlives nothing of its fetcher; the pending load keeps the fetcher alive.
    auto owner = fetcher.shared_from_this();
    loadJSON(*fetcher.session(), *lookup, [owner, completion](std::optional<nlohmann::json> info) {
        if (completion)
            completion(std::move(info));
    });
}

std::optional<Url> AppIconMethod::getIconUrl(const nlohmann::json& info)
{
    if (!info.is_object())
        return std::nullopt;
    const auto results = info.find("results");
    if (results == info.end() || !results->is_array() || results->empty())
        return std::nullopt;
    const nlohmann::json& first = results->front();
    if (!first.is_object())
        return std::nullopt;
    const auto artwork = first.find("artworkUrl512");
    if (artwork == first.end() || !artwork->is_string())
        return std::nullopt;
    return Url::fromString(QString::fromStdString(artwork->get<std::string>()));
}

void TouchIconMethod::tryIcon(IconFetcher::Completion completion)
{
    debugprint(u"Trying to find touch icon"_s);
    loadIcon(findTouchIconLink(), std::move(completion));
}

std::optional<Url> TouchIconMethod::findTouchIconLink() const
{
    return linkOfTag(u"<[^>]*apple-touch-icon[^>]*>"_s, u"content"_s);
}

void ShortcutIconMethod::tryIcon(IconFetcher::Completion completion)
{
    debugprint(u"Trying to find shortcut icon"_s);
    loadIcon(findShortcutIconLink(), std::move(completion));
}

std::optional<Url> ShortcutIconMethod::findShortcutIconLink() const
{
    return linkOfTag(u"<[^>]*rel=\"(shortcut )?icon\"[^>]*>"_s, u"href"_s);
}

void FaviconMethod::tryIcon(IconFetcher::Completion completion)
{
    debugprint(u"Trying to find favicon"_s);
    loadIcon(fetcher.url().appendingPathComponent(u"favicon.ico"_s), std::move(completion));
}

} // namespace Tickerly::Data

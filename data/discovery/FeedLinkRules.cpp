#include "data/discovery/FeedLinkRules.h"

#include "data/model/Shared.h"
#include "data/sync/StringExtensions.h"

#include <QStringList>

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

std::mutex hostMutex;
// Never destroyed: discovery may still read it on a worker while the process ends.
QString& configuredNewsMagazineHost = *new QString(u"newsmagazine.example.com"_s);

// `baseAllowed` is false while the base itself is being normalised: a link that starts with
// "/" and holds "feed://" differs from its own rewrite and would otherwise ask for its own base
// again, without end. Such a base counts as missing.
std::optional<Url> normalise(const QString& text, const QString& link, bool baseAllowed)
{
    debugprint(u"Trying to generate an http link from '"_s + text + u"'"_s);
    QString u = text;
    u.replace(u"feed://"_s, u"http://"_s, Qt::CaseInsensitive);

    // A path or a bare name is resolved against the link's own address as a browser resolves a
    // link; without an absolute one it stays as it is.
    auto relative = [&]() -> std::optional<Url> {
        const std::optional<Url> base = baseAllowed ? normalise(link, link, false) : std::nullopt;
        if (!base || !base->isAbsolute())
            return Url::fromString(u);
        return Url::resolved(u, *base);
    };

    QString result;
    if (u.startsWith(u"//"_s)) {
        result = u"http:"_s + u;
    } else if (u != link && u.startsWith(u'/')) {
        return relative();
    } else if (!u.contains(u'/') && text != link) {
        return relative();
    } else if (!u.startsWith(u"http://"_s, Qt::CaseInsensitive)
        && !u.startsWith(u"https://"_s, Qt::CaseInsensitive)) {
        result = u"http://"_s + u;
    } else {
        result = u;
    }
    return Url::fromString(result);
}

// A link value of a page resolved against the page's address as a browser resolves it, with
// "feed://" read as "http://". Only a web address is a candidate.
std::optional<Url> linkOnPage(const QString& href, const Url& page)
{
    QString text = href.trimmed();
    if (text.startsWith(u"feed://"_s, Qt::CaseInsensitive))
        text.replace(0, 4, u"http"_s);
    const std::optional<Url> url = Url::resolved(text, page);
    if (!url)
        return std::nullopt;
    const QString scheme = url->scheme().toLower();
    if (scheme != u"http"_s && scheme != u"https"_s)
        return std::nullopt;
    return url;
}

} // namespace

namespace FeedLinkRules {

std::optional<Url> httpLinkFromString(const QString& text, const QString& link)
{
    return normalise(text, link, true);
}

std::optional<Url> findRssLink(const QString& page, const Url& from)
{
    debugprint(u"Finding rss feed in source from "_s + from.absoluteString());
    const QString host = newsMagazineHost();
    if (!host.isEmpty() && find(from.absoluteString(), host))
        return Url::fromString(u"http://"_s + host + u"/feed/news"_s);

    auto passes = [&](const std::optional<Url>& candidate) {
        return candidate && !equalURLs(*candidate, from);
    };

    for (const QString& tag : findAll(page, u"<[^>]*application/(rss|atom)\\+xml[^>]*>"_s)) {
        const std::optional<QString> href
            = find(tag, u"href=[\"'][^\"']*[\"']"_s, Qt::CaseInsensitive, 6, 1);
        if (!href)
            continue;
        if (auto candidate = linkOnPage(*href, from); passes(candidate))
            return candidate;
    }

    // Never destroyed, as the next: discovery may still run on a worker while the process ends.
    static const auto& quotedAbsolute = *new const QStringList {
        u"[\"']http://[^\"']*(rss|atom)[^\"']*\\.(rss|atom|xml)[^\"']*[\"']"_s,
        u"[\"']http://[^\"']*(rss|atom)[\"']"_s,
        u"[\"']http://[^\"']*(rss|atom)[^\"']*[\"']"_s,
    };
    for (const QString& pattern : quotedAbsolute) {
        for (const QString& text : findAll(page, pattern, Qt::CaseInsensitive, 1, 1)) {
            if (auto candidate = Url::fromString(text); passes(candidate))
                return candidate;
        }
    }

    static const auto& hrefs = *new const QStringList {
        u"href=[\"'][^\"']*(rss|atom)[^\"']*[\"']"_s,
        u"href=[\"'][^\"']*feed[^\"']*[\"']"_s,
    };
    for (const QString& pattern : hrefs) {
        for (const QString& href : findAll(page, pattern, Qt::CaseInsensitive, 6, 1)) {
            if (auto candidate = linkOnPage(href, from); passes(candidate))
                return candidate;
        }
    }
    return std::nullopt;
}

bool equalURLs(const Url& a, const Url& b)
{
    // An address that is no URL names no page, so it is never the same page.
    if (!a.isValid() || !b.isValid())
        return false;
    if (a.host() != b.host())
        return false;
    auto pagePath = [](const Url& url) {
        QString path = url.path();
        if (path.endsWith(u'/'))
            path.chop(1);
        return path.toLower();
    };
    return pagePath(a) == pagePath(b);
}

QString newsMagazineHost()
{
    std::lock_guard lock(hostMutex);
    return configuredNewsMagazineHost;
}

void setNewsMagazineHost(const QString& host)
{
    std::lock_guard lock(hostMutex);
    configuredNewsMagazineHost = host;
}

} // namespace FeedLinkRules

} // namespace Tickerly::Data

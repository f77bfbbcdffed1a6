#include "data/discovery/FeedLinkRules.h"

#include "data/model/Shared.h"
#include "data/sync/StringExtensions.h"

#include <QStringList>

#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

std::mutex hostMutex;
QString configuredNewsMagazineHost = u"newsmagazine.example.com"_s;

// `baseAllowed` is false while the base itself is being normalised: a link that starts with
// "/" and holds "feed://" differs from its own rewrite and would otherwise ask for its own base
// again, without end. Such a base counts as missing.
std::optional<Url> normalise(const QString& text, const QString& link, bool baseAllowed)
{
    debugprint(u"Trying to generate an http link from '"_s + text + u"'"_s);
    QString u = text;
    u.replace(u"feed://"_s, u"http://"_s, Qt::CaseInsensitive);

    // The base for relative texts: the link's own address, or nothing.
    auto base = [&]() -> std::optional<QString> {
        if (!baseAllowed)
            return std::nullopt;
        const std::optional<Url> url = normalise(link, link, false);
        if (!url)
            return std::nullopt;
        return url->absoluteString();
    };

    QString result;
    if (u.startsWith(u"//"_s)) {
        result = u"http:"_s + u;
    } else if (u != link && u.startsWith(u'/')) {
        const std::optional<QString> b = base();
        if (!b) {
            result = u;
        } else if (b->endsWith(u'/')) {
            if (const auto root = find(*b, u"^[a-z]*://[^/]*"_s))
                result = *root + u;
            else
                result = find(*b, u".*"_s, true, 0, 1).value_or(QString()) + u;
        } else {
            // The path keeps its own "/": the base is followed by two.
            result = *b + u'/' + u;
        }
    } else if (!u.contains(u'/') && text != link) {
        const std::optional<QString> b = base();
        if (!b)
            result = u;
        else if (b->endsWith(u'/'))
            result = *b + u;
        else
            result = *b + u'/' + u;
    } else if (!u.startsWith(u"http://"_s) && !u.startsWith(u"https://"_s)) {
        result = u"http://"_s + u;
    } else {
        result = u;
    }
    return Url::fromString(result);
}

} // namespace

namespace FeedLinkRules {

std::optional<Url> httpLinkFromString(const QString& text, const QString& link)
{
    return normalise(text, link, true);
}

std::optional<Url> findRssLink(const QString& page, const Url& from, const QString& link)
{
    debugprint(u"Finding rss feed in source from "_s + from.absoluteString());
    const QString host = newsMagazineHost();
    if (!host.isEmpty() && find(from.absoluteString(), host))
        return Url::fromString(u"http://"_s + host + u"/feed/news"_s);

    auto passes = [&](const std::optional<Url>& candidate) {
        return candidate && !equalURLs(*candidate, from);
    };

    for (const QString& tag : findAll(page, u"<[^>]*application/(rss|atom)\\+xml[^>]*>"_s)) {
        const std::optional<QString> href = find(tag, u"href=[\"'][^\"']*[\"']"_s, true, 6, 1);
        if (!href)
            continue;
        if (auto candidate = httpLinkFromString(*href, link); passes(candidate))
            return candidate;
    }

    static const QStringList quotedAbsolute = {
        u"[\"']http://[^\"']*(rss|atom)[^\"']*\\.(rss|atom|xml)[^\"']*[\"']"_s,
        u"[\"']http://[^\"']*(rss|atom)[\"']"_s,
        u"[\"']http://[^\"']*(rss|atom)[^\"']*[\"']"_s,
    };
    for (const QString& pattern : quotedAbsolute) {
        for (const QString& text : findAll(page, pattern, true, 1, 1)) {
            if (auto candidate = Url::fromString(text); passes(candidate))
                return candidate;
        }
    }

    static const QStringList hrefs = {
        u"href=[\"'][^\"']*(rss|atom)[^\"']*[\"']"_s,
        u"href=[\"'][^\"']*feed[^\"']*[\"']"_s,
    };
    for (const QString& pattern : hrefs) {
        for (const QString& href : findAll(page, pattern, true, 6, 1)) {
            if (auto candidate = httpLinkFromString(href, link); passes(candidate))
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

#include "data/discovery/ShareLinks.h"

#include "data/model/NewsStory.h"
#include "platform/foundation/base/Bundle.h"

#include <QMap>
#include <QMutex>

#include <variant>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

QMutex settingsMutex;

ShareLinkSettings& storedSettings()
{
    static auto& settings = *new ShareLinkSettings; // never destroyed: workers read it to the end
    return settings;
}

// The pairs are gathered by name first, so the items come out in no order a reader may
// rely on.
std::optional<Url> linkTo(
    const QString& host, const QString& path, const QMap<QString, QString>& pairs)
{
    const std::optional<Url> base = Url::fromString(u"http://"_s + host + path);
    if (!base)
        return std::nullopt;
    QList<QPair<QString, QString>> items;
    for (auto it = pairs.cbegin(); it != pairs.cend(); ++it)
        items.append({ it.key(), it.value() });
    return Url::withQuery(*base, items);
}

QString absoluteString(const std::optional<Url>& url)
{
    return url ? url->absoluteString() : QString(u""_s);
}

} // namespace

QString ShareLinkSettings::infoDictionaryFacebookAppId()
{
    const auto info = Bundle::mainBundle().infoDictionary();
    return info ? info->value(u"Facebook application identifier"_s).toString().trimmed()
                : QString();
}

bool canShareOnFacebook() { return !ShareLinkSettings::current().facebookAppId.isEmpty(); }

ShareLinkSettings ShareLinkSettings::current()
{
    QMutexLocker locker(&settingsMutex);
    return storedSettings();
}

void ShareLinkSettings::setCurrent(const ShareLinkSettings& settings)
{
    QMutexLocker locker(&settingsMutex);
    storedSettings() = settings;
}

std::optional<Url> readabilityURL(const Url& url)
{
    const QString text = url.absoluteString();
    if (text.isEmpty())
        return std::nullopt;
    return linkTo(ShareLinkSettings::current().readabilityHost, u"/m"_s, { { u"url"_s, text } });
}

std::optional<Url> readabilityURL(const NewsStory& story)
{
    if (!story.link())
        return std::nullopt;
    return readabilityURL(*story.link());
}

std::optional<Url> instapaperSaveURL(const NewsStory& story)
{
    return linkTo(ShareLinkSettings::current().instapaperHost, u"/hello2"_s,
        { { u"url"_s, absoluteString(story.link()) },
            { u"title"_s, story.headline().value_or(QString()) },
            { u"description"_s, story.body().value_or(QString()) } });
}

std::optional<Url> twitterShareURL(const NewsStory& story)
{
    return linkTo(ShareLinkSettings::current().twitterHost, u"/share"_s,
        { { u"text"_s,
              story.headline().value_or(QString()) + u' ' + absoluteString(story.imageLink()) },
            { u"url"_s, absoluteString(story.link()) }, { u"hashtags"_s, u"itstickerly"_s },
            { u"related"_s, u"velmora"_s } });
}

std::optional<Url> facebookShareURL(const NewsStory& story)
{
    const ShareLinkSettings settings = ShareLinkSettings::current();
    if (settings.facebookAppId.isEmpty())
        return std::nullopt;
    // A missing value leaves its item out; an empty text is not missing.
    const QMap<QString, std::optional<QString>> optionalPairs {
        { u"app_id"_s, settings.facebookAppId },
        { u"display"_s, u"popup"_s },
        { u"link"_s, story.link() ? std::optional(story.link()->absoluteString()) : std::nullopt },
        { u"picture"_s,
            story.imageLink() ? std::optional(story.imageLink()->absoluteString()) : std::nullopt },
        { u"name"_s, story.headline() },
        { u"description"_s, story.body() },
        { u"redirect_uri"_s, settings.facebookRedirectURI },
    };
    QMap<QString, QString> pairs;
    for (auto it = optionalPairs.cbegin(); it != optionalPairs.cend(); ++it) {
        if (it.value())
            pairs.insert(it.key(), *it.value());
    }
    return linkTo(settings.facebookHost, u"/dialog/feed"_s, pairs);
}

} // namespace Tickerly::Data

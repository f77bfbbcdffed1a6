#pragma once

#include "data/Namespace.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QString>

#include <optional>

namespace Tickerly::Data {

class NewsStory;

// Where the share and reader links point: the four services' hosts, the maker's application
// identifier at the social network and the https page its feed dialog returns to.
struct TICKERLYDATAMAC_EXPORT ShareLinkSettings {
    QString readabilityHost = QStringLiteral("www.readability.com");
    QString instapaperHost = QStringLiteral("www.instapaper.com");
    QString twitterHost = QStringLiteral("twitter.com");
    QString facebookHost = QStringLiteral("www.facebook.com");
    // The maker's registered identifier, a value of the deployment: the information
    // dictionary's "Facebook application identifier". Empty without one, and then nothing is
    // shared there.
    QString facebookAppId = infoDictionaryFacebookAppId();
    QString facebookRedirectURI
        = QStringLiteral("https://developers.facebook.com/tools/explorer/callback");

    // The settings the links are built with; the defaults above unless replaced.
    static ShareLinkSettings current();
    static void setCurrent(const ShareLinkSettings& settings);

    static QString infoDictionaryFacebookAppId();
};

// Whether stories can be shared on the social network: only with the maker's identifier.
TICKERLYDATAMAC_EXPORT bool canShareOnFacebook();

// Addresses of outside services' pages for a story, to open in the browser. Each call builds a
// fresh http URL; nothing is fetched or stored. Query values are percent-encoded outside the
// unreserved characters, so a headline holding "&", "+", "#" or "=" arrives as written. The
// order of the query items is not fixed. Any thread.

// The reader service's page for `url`; nothing for a URL without text.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> readabilityURL(const Foundation::Url& url);
// The reader page of the story's link; nothing without a link.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> readabilityURL(const NewsStory& story);
// Save page: "url", "title" and "description", a missing field as empty text.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> instapaperSaveURL(const NewsStory& story);
// Tweet page: "text" (headline, a blank, image link), "url", "hashtags" and "related".
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> twitterShareURL(const NewsStory& story);
// Feed dialog: "app_id", "display", "redirect_uri" always; "link", "picture", "name" and
// "description" only when the story has them. Nothing without the maker's identifier.
TICKERLYDATAMAC_EXPORT std::optional<Foundation::Url> facebookShareURL(const NewsStory& story);

} // namespace Tickerly::Data

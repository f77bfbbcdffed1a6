#pragma once

#include "data/Namespace.h"
#include "data/sync/MobileUserAgent.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QImage>
#include <QList>
#include <QString>

#include <nlohmann/json_fwd.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

class IconFetchMethod;

// Finds the icon of a web site from the address of one of its pages: loads the page as a phone
// browser would, tries the icon rules on it in a fixed order (video channel thumbnail, app
// artwork, touch icon, shortcut icon, favicon) and, when none yields an image, does the same
// once more with the desktop page. The first image wins; scaling and storing are the caller's.
//
// One fetcher serves one search. It keeps itself alive through its own pending loads until its
// completion has run; every step after the start runs on the session's delegate queue.
class TICKERLYDATAMAC_EXPORT IconFetcher : public std::enable_shared_from_this<IconFetcher> {
public:
    using Completion = std::function<void(std::optional<QImage>)>;

    // The outside services the rules ask. Configuration; the defaults are the public hosts.
    struct OutsideHosts {
        // Host of the video site's channel pages, asked over https.
        QString videoSiteHost = QStringLiteral("www.youtube.com");
        // The label of the video site's domain, as it shows in its feed addresses.
        QString videoSiteLabel = QStringLiteral("youtube");
        // Host of the app-store lookup service, asked over plain http.
        QString appStoreLookupHost = QStringLiteral("itunes.apple.com");
    };
    static OutsideHosts outsideHosts();
    static void setOutsideHosts(const OutsideHosts& hosts);

    // Starts a search for the site of `forURL` and returns at once. `completion` runs exactly
    // once, with the image or with nothing. Without a session the search makes one of its own.
    // Starting with the desktop version skips the mobile pass.
    static void fetchIcon(const Foundation::Url& forURL,
        SiteVersion startWith = SiteVersion::Mobile,
        std::shared_ptr<Foundation::UrlSession> session = nullptr, Completion completion = {});

    IconFetcher(Foundation::Url url, std::shared_ptr<Foundation::UrlSession> session);

    const Foundation::Url& url() const { return m_url; }
    const std::shared_ptr<Foundation::UrlSession>& session() const { return m_session; }
    void setSession(std::shared_ptr<Foundation::UrlSession> session);

    // Tries `methods` in order until one yields an image.
    void tryMethods(QList<std::shared_ptr<IconFetchMethod>> methods, Completion completion);
    // One page pass: loads `version` of `url` and runs the rules on it; a mobile pass that finds
    // nothing is followed by a desktop pass.
    void getImage(SiteVersion version, const Foundation::Url& url, Completion completion);
    // Runs the rules on page text already in hand.
    void getImage(const QString& fromSource, Completion completion);

private:
    Foundation::Url m_url;
    std::shared_ptr<Foundation::UrlSession> m_session;
};

// One icon rule. Refers to its fetcher without owning it: a rule never outlives the fetcher's
// search. Failures inside a rule are silent: the rule then reports nothing.
class TICKERLYDATAMAC_EXPORT IconFetchMethod {
public:
    IconFetchMethod(IconFetcher& fetcher, QString source);
    virtual ~IconFetchMethod();

    // Looks for the rule's icon; the completion gets the image, or nothing.
    virtual void tryIcon(IconFetcher::Completion completion) = 0;

protected:
    // Downloads `link` through the fetcher's session, or reports nothing without one.
    void loadIcon(const std::optional<Foundation::Url>& link, IconFetcher::Completion completion);
    // The link of the first tag in the page that matches `pattern`, joined to the page address.
    std::optional<Foundation::Url> linkOfTag(
        const QString& pattern, const QString& attributeName) const;

    IconFetcher& fetcher;
    const QString source;
};

// The thumbnail of a video channel, for page addresses that name the channel ("channel_id=").
class TICKERLYDATAMAC_EXPORT YoutubeMethod : public IconFetchMethod {
public:
    using IconFetchMethod::IconFetchMethod;
    void tryIcon(IconFetcher::Completion completion) override;

    // The thumbnail link of a channel page.
    static std::optional<Foundation::Url> thumbnailURL(
        const QString& source, const Foundation::Url& baseUrl);
    // Everything after "channel_id=" in the address, to its end.
    static std::optional<QString> channelId(const Foundation::Url& url);
};

// The artwork of the app that the page advertises in its app-banner meta tag.
class TICKERLYDATAMAC_EXPORT AppIconMethod : public IconFetchMethod {
public:
    using IconFetchMethod::IconFetchMethod;
    void tryIcon(IconFetcher::Completion completion) override;

    // The app id of the banner tag (0 for an empty digit run); nothing without the tag or when
    // the digits do not fit 64 bits.
    std::optional<qint64> findMetaTagAppId() const;
    // Asks the lookup service about the app; the completion gets its answer's top-level object.
    void loadAppInfo(qint64 appId, std::function<void(std::optional<nlohmann::json>)> completion);
    // The first result's 512-pixel artwork address.
    static std::optional<Foundation::Url> getIconUrl(const nlohmann::json& info);
};

// The icon a page names for phones' home screens.
class TICKERLYDATAMAC_EXPORT TouchIconMethod : public IconFetchMethod {
public:
    using IconFetchMethod::IconFetchMethod;
    void tryIcon(IconFetcher::Completion completion) override;
    std::optional<Foundation::Url> findTouchIconLink() const;
};

// The icon a page names with rel="icon" or rel="shortcut icon".
class TICKERLYDATAMAC_EXPORT ShortcutIconMethod : public IconFetchMethod {
public:
    using IconFetchMethod::IconFetchMethod;
    void tryIcon(IconFetcher::Completion completion) override;
    std::optional<Foundation::Url> findShortcutIconLink() const;
};

// "favicon.ico" inside the page's own path.
class TICKERLYDATAMAC_EXPORT FaviconMethod : public IconFetchMethod {
public:
    using IconFetchMethod::IconFetchMethod;
    void tryIcon(IconFetcher::Completion completion) override;
};

} // namespace Tickerly::Data

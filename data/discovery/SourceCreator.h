#pragma once

#include "data/Namespace.h"
#include "data/model/Source.h"
#include "platform/foundation/base/Url.h"
#include "platform/linkwork/Promise.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

// The most distinct addresses one creator loads.
inline constexpr qint64 SourceCreatorMaxTryCount = 5;

// Turns one typed text (a web address, a site name or a few search words) into one new feed
// source: loads the address; a feed becomes the source, a web page is searched for its feed
// link, and when the text is no address, the load fails or the page names no feed, the web
// search is asked for a site. Stores nothing: the caller adds the source.
//
// One creator serves one request. Its steps form a single chain (at most one load or search
// outstanding), so no two of them run at once: the start on the caller's thread, load answers
// on the session's delegate queue, search answers on the main queue. Every pending step holds
// the creator, so a caller need not keep it. The completion runs at most once, on the thread of
// the step that decides, with the source or with null.
class TICKERLYDATAMAC_EXPORT SourceCreator : public std::enable_shared_from_this<SourceCreator> {
public:
    using Completion = std::function<void(std::shared_ptr<Source>)>;
    using SourcePromise = Linkwork::Promise<std::optional<std::shared_ptr<Source>>>;

    // `session` null: a new session with the default configuration. Starts nothing.
    SourceCreator(
        std::shared_ptr<Foundation::UrlSession> session, QString link, Completion completion);
    virtual ~SourceCreator();

    // Makes a creator for `text` and starts it; keeps no reference to it.
    static void createSource(const QString& text, std::shared_ptr<Foundation::UrlSession> session,
        Completion completion);
    // A function from a text to a promise of its source, set once (nothing when none was found);
    // `session` may be null.
    static std::function<SourcePromise(const QString& link)> createSource(
        std::shared_ptr<Foundation::UrlSession> session);

    // Starts the discovery. Call once.
    virtual void createSource();
    // The address step: loads `url` unless the limit is reached or it was loaded before.
    virtual void onValidLink(const Foundation::Url& url);
    // Whether the search step asks for the link alone or followed by " rss feed".
    enum class FeedString { Omitted, Added };
    // The search step.
    virtual void bingYoureMyOnlyHope(FeedString addFeedString = FeedString::Omitted);
    // The feed test: the source for the feed in `data`, loaded from `link`, or null; calls
    // `completion` before it returns.
    virtual void sourceObjectFromData(
        const QByteArray& data, const Foundation::Url& link, const Completion& completion);
    // Calls the completion, the first time only.
    virtual void complete(std::shared_ptr<Source> source = nullptr);

    // The feed link rules (FeedLinkRules.h): typed text over this creator's `link`, a page's
    // links over the page's own address.
    virtual std::optional<Foundation::Url> httpLinkFromString(const QString& text) const;
    virtual std::optional<Foundation::Url> findRssLink(
        const QString& page, const Foundation::Url& from) const;
    virtual bool equalURLs(const Foundation::Url& a, const Foundation::Url& b) const;

    const std::shared_ptr<Foundation::UrlSession>& session() const { return m_session; }
    const QString& link() const { return m_link; }
    void setLink(const QString& link) { m_link = link; }
    const QList<Foundation::Url>& linksTried() const { return m_linksTried; }
    bool didComplete() const { return m_didComplete; }
    qint64 bingAttempts() const { return m_bingAttempts; }
    qint64 currentAttempts() const { return m_currentAttempts; }

private:
    const std::shared_ptr<Foundation::UrlSession> m_session;
    Completion m_completion;
    QString m_link;
    QList<Foundation::Url> m_linksTried;
    bool m_didComplete = false;
    qint64 m_bingAttempts = 0;
    qint64 m_currentAttempts = 0;
};

} // namespace Tickerly::Data

#include "data/discovery/SourceCreator.h"

#include "data/discovery/Bing.h"
#include "data/discovery/FeedLinkRules.h"
#include "data/model/Shared.h"
#include "data/model/SourceNames.h"
#include "data/sync/FeedParser.h"
#include "data/sync/StringExtensions.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSession.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Qt::Literals::StringLiterals;

SourceCreator::SourceCreator(
    std::shared_ptr<UrlSession> session, QString link, Completion completion)
    : m_session(session ? std::move(session) : UrlSession::create())
    , m_completion(std::move(completion))
    , m_link(std::move(link))
{
}

SourceCreator::~SourceCreator() = default;

void SourceCreator::createSource(
    const QString& text, std::shared_ptr<UrlSession> session, Completion completion)
{
    std::make_shared<SourceCreator>(std::move(session), text, std::move(completion))
        ->createSource();
}

std::function<SourceCreator::SourcePromise(const QString&)> SourceCreator::createSource(
    std::shared_ptr<UrlSession> session)
{
    return [session = std::move(session)](const QString& link) {
        SourcePromise promise;
        createSource(link, session, [promise](std::shared_ptr<Source> source) {
            promise.setValue(source ? std::optional(std::move(source)) : std::nullopt);
        });
        return promise;
    };
}

void SourceCreator::createSource()
{
    debugprint(u"Creating source from '"_s + m_link + u"'"_s);
    if (m_link.contains(u'.')) {
        if (const std::optional<Url> url = httpLinkFromString(m_link)) {
            onValidLink(*url);
            return;
        }
    }
    bingYoureMyOnlyHope(FeedString::Omitted);
}

void SourceCreator::onValidLink(const Url& url)
{
    debugprint(u"Got valid link: "_s + url.absoluteString());
    if (m_linksTried.size() >= SourceCreatorMaxTryCount) {
        complete(nullptr);
        return;
    }
    if (m_linksTried.contains(url)) {
        if (m_currentAttempts == 0)
            complete(nullptr);
        return;
    }
    m_linksTried.append(url);
    ++m_currentAttempts;
    auto self = shared_from_this();
    // Only http and https are ever loaded: the session answers any other scheme with no bytes.
    loadFeedOrPage(*m_session, url, [self, url](std::optional<QByteArray> data) {
        --self->m_currentAttempts;
        if (!data) {
            self->bingYoureMyOnlyHope(FeedString::Omitted);
            return;
        }
        self->sourceObjectFromData(*data, url, [self, &data, &url](std::shared_ptr<Source> source) {
            if (source) {
                debugprint(u"Did get source"_s);
                self->complete(std::move(source));
                return;
            }
            // Past the cap of pages it is no page to read: as if the load had failed.
            if (data->size() > UrlRequest::pageBodyLimit) {
                self->bingYoureMyOnlyHope(FeedString::Omitted);
                return;
            }
            const std::optional<QString> page = fromData(data);
            if (!page) {
                self->bingYoureMyOnlyHope(FeedString::Added);
                return;
            }
            if (const std::optional<Url> feed = self->findRssLink(*page, url))
                self->onValidLink(*feed);
            else
                self->bingYoureMyOnlyHope(FeedString::Added);
        });
    });
}

void SourceCreator::bingYoureMyOnlyHope(FeedString addFeedString)
{
    debugprint(u"Bing you're my only hope"_s);
    ++m_bingAttempts;
    if (m_bingAttempts > 2 && m_currentAttempts == 0) {
        complete(nullptr);
        return;
    }
    const QString query = addFeedString == FeedString::Added ? m_link + u" rss feed"_s : m_link;
    ++m_currentAttempts;
    auto self = shared_from_this();
    std::make_shared<Bing>(m_session)->search(query).onValue([self](const Result<Url>& result) {
        MainQueue::dispatchAsync([self, result] {
            --self->m_currentAttempts;
            if (result.isError()) {
                self->complete(nullptr);
                return;
            }
            const Url& url = result.value();
            if (!url.absoluteString().isEmpty())
                self->m_link = url.absoluteString();
            self->onValidLink(url);
        });
    });
}

void SourceCreator::sourceObjectFromData(
    const QByteArray& data, const Url& link, const Completion& completion)
{
    debugprint(u"Creating a source object from link '"_s + link.absoluteString() + u"'"_s);
    auto parser = std::make_shared<FeedParser>(data, nullptr);
    std::optional<QString> title = SourceNames().nameForLink(link.absoluteString());
    if (!title)
        title = parser->title;
    if (!title) {
        completion(nullptr);
        return;
    }
    auto source = std::make_shared<Source>(*title, link.absoluteString());
    source->sourceLink = parser->link;
    source->feedParser = std::move(parser);
    completion(std::move(source));
}

void SourceCreator::complete(std::shared_ptr<Source> source)
{
    if (m_didComplete)
        return;
    m_didComplete = true;
    // Dropped once called, so whatever the completion holds goes with it.
    const Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (completion)
        completion(std::move(source));
}

std::optional<Url> SourceCreator::httpLinkFromString(const QString& text) const
{
    return FeedLinkRules::httpLinkFromString(text, m_link);
}

std::optional<Url> SourceCreator::findRssLink(const QString& page, const Url& from) const
{
    return FeedLinkRules::findRssLink(page, from);
}

bool SourceCreator::equalURLs(const Url& a, const Url& b) const
{
    return FeedLinkRules::equalURLs(a, b);
}

} // namespace Tickerly::Data

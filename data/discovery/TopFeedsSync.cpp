#include "data/discovery/TopFeedsSync.h"

#include "data/discovery/IconLoading.h"
#include "data/discovery/IconLoading_p.h"
#include "data/discovery/SourceCreator.h"
#include "data/model/HotStoriesData.h"
#include "data/model/SourceNames.h"
#include "data/model/TopFeedsData.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/linkwork/Chain.h"

#include <algorithm>
#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;
using namespace Qt::Literals::StringLiterals;

namespace {

std::mutex serversMutex;

ProductServers& configuredServers()
{
    static auto& servers = *new ProductServers; // never destroyed: workers read it to the end
    return servers;
}

// Runs `write` on the main queue, where the shared stores are changed; the promise is set once
// it has run.
// Writes what `loaded` brings on the main queue. The promise returned is settled there too, so
// that whoever waits on it hears of the write on the main queue: a promise chained onto another
// that is already settled runs on the thread that chains it.
template <typename T>
Promise<Result<Empty>> storeOnMainQueue(
    const Promise<Result<T>>& loaded, std::function<void(const T&)> write)
{
    Promise<Result<Empty>> done;
    loaded.onValue([done, write = std::move(write)](const Result<T>& result) {
        MainQueue::dispatchAsync([done, write, result] {
            if (!result.isOk()) {
                done.setValue(Result<Empty>::Error(result.error()));
                return;
            }
            write(result.value());
            done.setValue(Result<Empty>::Ok(Empty {}));
        });
    });
    return done;
}

// Marks the stored entry equal to `feed` as having no icon. Only the mark is written: a later
// update may have stored the same feed with another hit count since this search began. The
// change holds its own copy of what it compares, as it may be kept and made later elsewhere.
void markWithoutIcon(const TopFeedSource& feed)
{
    const Source& source = *feed.source();
    // Only a hint for the views: a mark the store refused (it says so in the log) is made again
    // at the next search.
    (void)TopFeedsData().modifyTopFeeds(
        [title = source.title(), link = source.link()](TopFeedsSync::TopFeedList& list) {
            const auto stored = std::find_if(list.begin(), list.end(), [&](const auto& entry) {
                return entry->source()->title() == title && entry->source()->link() == link;
            });
            if (stored != list.end())
                (*stored)->source()->noIconFound = true;
        });
}

} // namespace

ProductServers ProductServers::current()
{
    std::lock_guard lock(serversMutex);
    return configuredServers();
}

void ProductServers::setCurrent(const ProductServers& servers)
{
    std::lock_guard lock(serversMutex);
    configuredServers() = servers;
}

QString TopFeedsSync::didUpdateNotification()
{
    return u"velmora.Tickerly.TopFeedsSync.didUpdateNotification"_s;
}

void TopFeedsSync::update()
{
    // Every discovery of the run shares one session; the network engine, not this run, bounds
    // how many connections are open at once.
    const std::shared_ptr<UrlSession> session = UrlSession::create();
    TickerlyStaticAPIClient client(ProductServers::current().staticFiles);
    client.topFeeds() >> [session](const QList<FeedReference>& references) {
        return references >> feedSourceFromReference(session);
    } >> [](const std::vector<FeedPromise>& feeds) {
        return feedsWithoutNil(feeds) >>
            [](const TopFeedList& found) { return Result<TopFeedList>::Ok(found); };
    } >> didLoad;
}

std::function<TopFeedsSync::FeedPromise(const FeedReference&)>
TopFeedsSync::feedSourceFromReference(std::shared_ptr<UrlSession> session)
{
    const auto createSource = SourceCreator::createSource(std::move(session));
    return [createSource](const FeedReference& reference) {
        const QString& text = reference.url.absoluteString();
        const std::optional<QString> link = text.isEmpty() ? std::nullopt : std::optional(text);
        return (reference.hits + (link >> createSource)) >>
            [](const std::pair<qint64, std::shared_ptr<Source>>& found) {
                return std::make_shared<TopFeedSource>(found.first, found.second);
            };
    };
}

Promise<TopFeedsSync::TopFeedList> TopFeedsSync::feedsWithoutNil(
    const std::vector<FeedPromise>& feeds)
{
    return reducep(feeds, TopFeedList(),
        [](TopFeedList list, const std::optional<std::shared_ptr<TopFeedSource>>& feed) {
            if (feed)
                list.append(*feed);
            return list;
        });
}

void TopFeedsSync::didLoad(const TopFeedList& feeds)
{
    MainQueue::dispatchAsync([feeds] {
        // What the server lists, fetched again at the next refresh: a write the store refused (it
        // says so in the log) does not fail this one.
        (void)TopFeedsData().setTopFeeds(feeds);
        for (const std::shared_ptr<TopFeedSource>& feed : feeds) {
            loadImageForSource(feed->source(), [feed](std::optional<QImage> image) {
                storeIconSearchOutcome(
                    feed->source(), std::move(image), [feed] { markWithoutIcon(*feed); });
            });
        }
        NotificationCenter::defaultCenter().post(didUpdateNotification());
    });
}

Promise<Result<Empty>> SourceNamesSync::update()
{
    TickerlyStaticAPIClient client(ProductServers::current().staticFiles);
    return storeOnMainQueue<SourceNames::NameTable>(
        client.names(), [](const SourceNames::NameTable& names) {
            // As the top feeds: fetched again at the next refresh.
            (void)SourceNames().setNames(names);
        });
}

Promise<Result<Empty>> HotStoriesSync::reload()
{
    TickerlyAPIClient client(ProductServers::current().api);
    return storeOnMainQueue<QList<StoryReference>>(
        client.hotStories(), [](const QList<StoryReference>& references) {
            const auto stories = references >> [](const StoryReference& reference) {
                return std::make_shared<HotStory>(reference.url, reference.hits);
            };
            // As the top feeds: fetched again at the next refresh.
            (void)HotStoriesData().setHotStories(
                HotStoriesData::HotStoryList(stories.begin(), stories.end()));
        });
}

} // namespace Tickerly::Data

#include "data/sync/Sync.h"

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/FeedParser.h"
#include "data/sync/FirstSightings.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/process/FreedMemory.h"
#include "platform/foundation/base/OperationQueue.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <typeinfo>
#include <vector>
#include <utility>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

// Where a refresh is, for timing it from outside (sync_bench); off unless asked for.
Q_LOGGING_CATEGORY(lcSyncPhases, "tickerly.data.sync.phases", QtInfoMsg)

std::shared_ptr<Sync> Sync::create() { return std::shared_ptr<Sync>(new Sync()); }

Sync::Sync()
    : m_parseQueue(std::make_unique<OperationQueue>(u"Sync parsing"_s))
{
    const unsigned readers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    for (unsigned i = 0; i < readers; ++i)
        m_readers.push_back(std::make_unique<OperationQueue>(u"Sync reading"_s));
}

Sync::~Sync() = default;

namespace {

// Counts refreshes started, so that memory is given back only after the last of them.
std::atomic<quint64> refreshGeneration = 0;
constexpr double releaseMemoryAfterSeconds = 10;
// A refresh that downloads this much gives its freed memory back before it stores its stories.
constexpr qint64 releaseBeforeStoringBytes = 16 * 1024 * 1024;

} // namespace

void Sync::updateStories(
    std::optional<UrlSessionConfiguration> sessionConfiguration, Completion completion)
{
    if (m_isCancelled)
        return;
    ++refreshGeneration;
    m_receiving.clear();
    m_arriving.clear();
    m_dataMap.clear();
    m_sourceMap.clear();
    m_totalTasks = 0;
    m_failedTasks = 0;
    m_receivedBytes = 0;

    m_storeRefused = false;
    const QList<std::shared_ptr<Source>> sourceList = SourcesData().sources();
    if (sourceList.isEmpty()) {
        m_storeRefused = StoredStoriesData().storeStories({}) == UserDefaults::Outcome::Failed;
        if (completion)
            completion(!m_storeRefused);
        return;
    }

    m_completion = std::move(completion);
    m_sightings = std::make_shared<FirstSightings>(QDateTime::currentMSecsSinceEpoch());
    m_readAheadIsFinal = typeid(*this) == typeid(Sync);
    const std::shared_ptr<UrlSession> session = createSession(std::move(sessionConfiguration));
    {
        std::lock_guard lock(m_sessionMutex);
        m_session = session;
    }

    QList<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (const auto& source : sourceList) {
        if (auto task = taskForSource(*session, source))
            tasks.append(std::move(task));
    }
    for (const auto& task : tasks) {
        if (!m_isCancelled)
            task->resume();
    }
    m_sources = sourceList;
    if (!m_isCancelled)
        session->finishTasksAndInvalidate();
    else // a cancel that came before the session was kept had nothing to tear down
        session->invalidateAndCancel();
}

void Sync::cancel()
{
    m_isCancelled = true;
    if (const std::shared_ptr<UrlSession> running = session())
        running->invalidateAndCancel();
}

std::shared_ptr<UrlSession> Sync::session() const
{
    std::lock_guard lock(m_sessionMutex);
    return m_session;
}

std::shared_ptr<UrlSession> Sync::createSession(
    std::optional<UrlSessionConfiguration> sessionConfiguration)
{
    UrlSessionConfiguration configuration
        = sessionConfiguration.value_or(UrlSessionConfiguration {});
    configuration.requestCachePolicy = UrlCachePolicy::ReloadIgnoringLocalAndRemoteCache;
    return UrlSession::create(configuration, shared_from_this());
}

std::shared_ptr<UrlSessionDataTask> Sync::taskForSource(
    UrlSession& session, const std::shared_ptr<Source>& source)
{
    const std::optional<Url> url = Url::fromString(source->link());
    if (!url)
        return nullptr;
    ++m_totalTasks;
    UrlRequest request(*url);
    request.maximumBodySize = UrlRequest::feedBodyLimit;
    auto task = session.dataTask(request);
    m_sourceMap[task->taskIdentifier()] = source;
    return task;
}

void Sync::didReceiveData(UrlSession&, UrlSessionDataTask& task, const QByteArray& data)
{
    if (data.isEmpty())
        return;
    m_receivedBytes += data.size();
    if (!m_readAheadIsFinal) {
        // A share of the piece as handed over, which is let go there: no copy.
        m_receiving[task.taskIdentifier()].pieces.push_back(data);
        return;
    }
    // Read as it arrives, on a reader of its own, so that no feed's body is held whole.
    std::shared_ptr<ArrivingFeed>& feed = m_arriving[task.taskIdentifier()];
    if (!feed) {
        const auto source = m_sourceMap.find(task.taskIdentifier());
        if (source == m_sourceMap.end() || !source->second)
            return;
        feed = std::make_shared<ArrivingFeed>(source->second);
        feed->reader = m_readers[m_nextReader++ % m_readers.size()].get();
    }
    feed->reader->addOperation([self = shared_from_this(), feed, data] {
        if (self->m_isCancelled || feed->dropped || feed->outOfMemory)
            return;
        try {
            feed->parser.push(data);
        } catch (const std::bad_alloc&) {
            feed->outOfMemory = true;
        }
    });
}

namespace {

// A body's pieces in one buffer, each let go as soon as it is copied, so that the body is held
// about once while it is put together; a single piece is the body as it came.
QByteArray joined(std::vector<QByteArray> pieces)
{
    if (pieces.size() == 1)
        return std::move(pieces.front());
    qsizetype size = 0;
    for (const QByteArray& piece : pieces)
        size += piece.size();
    QByteArray whole;
    whole.reserve(size);
    for (QByteArray& piece : pieces) {
        whole.append(piece);
        piece = QByteArray();
    }
    return whole;
}

} // namespace

void Sync::didCompleteWithError(
    UrlSession&, UrlSessionDataTask& task, const std::optional<Error>& error)
{
    debugprint(u"Completed "_s + task.originalRequest().url.absoluteString() + u" with error: "_s
        + (error ? error->localizedDescription() : u"none"_s));
    // A download that failed (refused for its size, cut, reset, timed out) adds no stories: what
    // arrived of it is not the feed, and an endless one would push every other source out.
    const auto received = m_receiving.find(task.taskIdentifier());
    const auto arriving = m_arriving.find(task.taskIdentifier());
    std::shared_ptr<ArrivingFeed> feed;
    if (arriving != m_arriving.end()) {
        feed = std::move(arriving->second);
        m_arriving.erase(arriving);
    }
    if (error) {
        ++m_failedTasks;
        if (received != m_receiving.end())
            m_receiving.erase(received);
        if (feed)
            feed->dropped = true;
        return;
    }
    if (feed) {
        // The entry is made, empty, so that the gathering meets the feeds in the same order.
        m_dataMap[task.taskIdentifier()];
        if (m_isCancelled)
            return;
        {
            std::lock_guard lock(m_readAheadMutex);
            ++m_readsUnderWay;
        }
        feed->reader->addOperation(
            [self = shared_from_this(), feed, identifier = task.taskIdentifier()] {
                ReadAhead read;
                if (!self->m_isCancelled) {
                    try {
                        if (!feed->outOfMemory) {
                            feed->parser.finish();
                            read.archived = archivedFeed(feed->parser, *self->m_sightings);
                            // Let go here, whenever the queue lets go of this operation.
                            feed->parser.stories.clear();
                        }
                    } catch (const std::bad_alloc&) {
                        feed->outOfMemory = true;
                    }
                    if (feed->outOfMemory) {
                        // One feed too large for the memory left costs its own stories only.
                        qWarning("Sync: no memory left to read a feed; it adds no stories");
                        read = ReadAhead();
                        read.outOfMemory = true;
                    }
                }
                self->endRead(identifier, std::move(read));
            });
        return;
    }
    if (received == m_receiving.end())
        return;
    // A parsing step of another class is given the whole document, which the read shares.
    QByteArray& data = m_dataMap[task.taskIdentifier()];
    data = joined(std::move(received->second.pieces));
    m_receiving.erase(received);
    const auto source = m_sourceMap.find(task.taskIdentifier());
    if (source != m_sourceMap.end() && source->second && !m_isCancelled)
        readAhead(task.taskIdentifier(), data, source->second);
}

void Sync::readAhead(qint64 identifier, QByteArray data, std::shared_ptr<Source> source)
{
    {
        std::lock_guard lock(m_readAheadMutex);
        ++m_readsUnderWay;
        m_waitingReads.push_back({ identifier, std::move(data), std::move(source) });
    }
    OperationQueue& reader = *m_readers[m_nextReader++ % m_readers.size()];
    reader.addOperation([self = shared_from_this()] { self->readWaitingFeeds(); });
}

void Sync::readWaitingFeeds()
{
    // Whichever reader runs takes what is waiting, so a reader the system holds back holds up
    // no feed of its own.
    for (;;) {
        WaitingRead waiting;
        {
            std::lock_guard lock(m_readAheadMutex);
            if (m_waitingReads.empty())
                return;
            waiting = std::move(m_waitingReads.front());
            m_waitingReads.pop_front();
        }
        ReadAhead read;
        if (!m_isCancelled) {
            try {
                read.parser = std::make_shared<FeedParser>(waiting.data, waiting.source);
                read.data = std::move(waiting.data);
            } catch (const std::bad_alloc&) {
                // One feed too large for the memory left costs its own stories only.
                qWarning("Sync: no memory left to read a feed of %lld bytes; it adds no stories",
                    qlonglong(waiting.data.size()));
                read = ReadAhead();
                read.outOfMemory = true;
            }
        }
        waiting.data = QByteArray();
        endRead(waiting.identifier, std::move(read));
    }
}

void Sync::endRead(qint64 identifier, ReadAhead read)
{
    std::lock_guard lock(m_readAheadMutex);
    if (read.parser || read.archived || read.outOfMemory)
        m_readAhead[identifier] = std::move(read);
    if (--m_readsUnderWay == 0 && m_gatherAfterReads) {
        gatherOnParseQueue(*m_gatherAfterReads);
        m_gatherAfterReads.reset();
    }
}

void Sync::gatherOnParseQueue(bool failed)
{
    m_parseQueue->addOperation([self = shared_from_this(), failed] {
        if (failed) {
            self->reportOnMainQueue(false);
            return;
        }
        try {
            self->parseStories();
        } catch (const std::bad_alloc&) {
            // The stored list stays as it was, and the caller hears of it.
            qWarning(
                "Sync: no memory left to gather the stories of a refresh; the stored list stays");
            self->reportOnMainQueue(false);
        }
    });
}

void Sync::didBecomeInvalidWithError(UrlSession&, const std::optional<Error>&)
{
    if (m_isCancelled)
        return;
    // After every read-ahead, which the cleanup must not race.
    const bool failed = m_failedTasks == m_totalTasks;
    std::lock_guard lock(m_readAheadMutex);
    qCDebug(lcSyncPhases, "downloads ended, %d feeds still to read", m_readsUnderWay);
    if (m_readsUnderWay == 0)
        gatherOnParseQueue(failed);
    else
        m_gatherAfterReads = failed;
}

std::shared_ptr<FeedParser> Sync::parseFeed(
    const QByteArray& data, const std::shared_ptr<Source>& source)
{
    std::optional<ReadAhead> offered;
    offered.swap(m_offered);
    if (offered && offered->parser->source() == source && offered->data.isSharedWith(data))
        return offered->parser;
    return std::make_shared<FeedParser>(data, source);
}

Sync::ArchivedFeed Sync::archivedFeed(const FeedParser& parser, FirstSightings& sightings)
{
    ArchivedFeed feed;
    feed.isFeed = parser.isFeed();
    feed.stories.reserve(size_t(parser.stories.size()));
    for (const auto& story : parser.stories) {
        // Before the archive: it keeps the sighting of a story dated ahead.
        const qint64 time = sightings.rankingTime(*story);
        if (story->firstSeen())
            feed.sightings.push_back({ qsizetype(feed.stories.size()),
                StoredStoriesData::sightingIdentity(*story), time });
        feed.archive.append(KeyedArchiver::encodedObject(*story));
        feed.stories.push_back({ time, feed.archive.size() });
    }
    feed.archive.squeeze();
    return feed;
}

std::optional<Sync::ArchivedFeed> Sync::gatherFeed(
    qint64 identifier, const QByteArray& data, const std::shared_ptr<Source>& source)
{
    std::optional<ReadAhead> ahead;
    {
        std::lock_guard lock(m_readAheadMutex);
        if (const auto found = m_readAhead.find(identifier); found != m_readAhead.end()) {
            ahead = std::move(found->second);
            m_readAhead.erase(found);
        }
    }
    if (ahead && ahead->outOfMemory)
        return std::nullopt;
    if (ahead && ahead->archived)
        return std::move(ahead->archived);
    m_offered = std::move(ahead);
    std::shared_ptr<FeedParser> parser;
    try {
        parser = parseFeed(data, source);
    } catch (const std::bad_alloc&) {
        qWarning("Sync: no memory left to read a feed of %lld bytes; it adds no stories",
            qlonglong(data.size()));
    }
    m_offered.reset();
    if (!parser)
        return std::nullopt;
    if (!m_workingStories)
        m_workingStories.emplace();
    m_workingStories->append(parser->stories);
    return archivedFeed(*parser, *m_sightings);
}

std::vector<Sync::ArchivedFeed> Sync::gatherFeeds()
{
    std::vector<ArchivedFeed> feeds;
    // Feeds in the order their tasks started (the sources' order), whatever order they came in.
    std::vector<qint64> identifiers;
    identifiers.reserve(m_dataMap.size());
    for (const auto& entry : m_dataMap)
        identifiers.push_back(entry.first);
    std::sort(identifiers.begin(), identifiers.end());
    for (const qint64 identifier : identifiers) {
        if (m_isCancelled)
            continue;
        const auto source = m_sourceMap.find(identifier);
        if (source == m_sourceMap.end() || !source->second)
            continue;
        if (auto feed = gatherFeed(identifier, m_dataMap.at(identifier), source->second))
            feeds.push_back(std::move(*feed));
    }
    return feeds;
}

std::vector<Sync::RankedStory> Sync::storyOrder(const std::vector<ArchivedFeed>& feeds)
{
    // Sorted by keys read once. Stable: stories whose dates are equal (the undated ones among
    // them) keep the order their feeds gave them, refresh after refresh. A story dated in the
    // future ranks as first seen, not above every later story for good.
    std::vector<RankedStory> order;
    size_t count = 0;
    for (const ArchivedFeed& feed : feeds)
        count += feed.stories.size();
    order.reserve(count);
    for (size_t f = 0; f < feeds.size(); ++f) {
        for (size_t i = 0; i < feeds[f].stories.size(); ++i) {
            order.push_back({ feeds[f].stories[i].time, quint32(f), quint32(i) });
        }
    }
    std::stable_sort(order.begin(), order.end(),
        [](const RankedStory& a, const RankedStory& b) { return a.time > b.time; });
    return order;
}

void Sync::storeStories(std::vector<ArchivedFeed>& feeds, std::vector<RankedStory> order)
{
    // Views of the feeds' archives, put together by the store without a copy of each.
    QList<QByteArray> archived;
    archived.reserve(qsizetype(order.size()));
    std::vector<StoredStoriesData::Sighting> sighted;
    for (const RankedStory& entry : order) {
        ArchivedFeed& feed = feeds[entry.feed];
        if (!feed.sightings.empty()) {
            const auto found = std::lower_bound(feed.sightings.begin(), feed.sightings.end(),
                qsizetype(entry.story), [](const StoredStoriesData::Sighting& s, qsizetype story) {
                    return s.story < story;
                });
            if (found != feed.sightings.end() && found->story == qsizetype(entry.story))
                sighted.push_back(
                    { archived.size(), std::move(found->identity), found->seenMSecs });
        }
        const qsizetype begin = entry.story == 0 ? 0 : feed.stories[entry.story - 1].end;
        archived.append(QByteArray::fromRawData(
            feed.archive.constData() + begin, feed.stories[entry.story].end - begin));
    }
    order = {};
    // Moved, not copied: the views stay valid, and the store lets the feeds go once the list is
    // put together, before it is written.
    QList<QByteArray> backing;
    backing.reserve(qsizetype(feeds.size()));
    for (ArchivedFeed& feed : feeds)
        backing.append(std::move(feed.archive));
    // Kept for later while another program holds the store, it still lands: only a refusal
    // leaves the old list.
    m_storeRefused = StoredStoriesData().storeEncodedStories(
                         std::move(archived), std::move(backing), std::move(sighted))
        == UserDefaults::Outcome::Failed;
}

void Sync::parseStories()
{
    qCDebug(lcSyncPhases, "feeds read");
    std::vector<ArchivedFeed> feeds = gatherFeeds();
    // Error pages and portals answer without a transport error; they must not replace the
    // stored stories by nothing.
    const bool anyFeed = std::any_of(
        feeds.begin(), feeds.end(), [](const ArchivedFeed& feed) { return feed.isFeed; });
    std::vector<RankedStory> order = storyOrder(feeds);
    qCDebug(lcSyncPhases, "stories sorted");
    // The downloads and reads of a large refresh are gone by now, their memory freed on the
    // threads that took it; given back before the list is put together and written, it is
    // not taken a second time beside them.
    if (m_receivedBytes >= releaseBeforeStoringBytes)
        releaseFreedMemory();
    if (anyFeed)
        storeStories(feeds, std::move(order));
    feeds.clear();

    if (m_isCancelled)
        cleanup();
    else
        reportOnMainQueue(anyFeed && !m_storeRefused);
}

void Sync::reportOnMainQueue(bool success)
{
    MainQueue::dispatchAsync([self = shared_from_this(), success] {
        if (self->m_completion && !self->m_isCancelled)
            self->m_completion(success);
        self->cleanup();
    });
}

void Sync::cleanup()
{
    m_completion = nullptr;
    std::shared_ptr<UrlSession> session;
    {
        std::lock_guard lock(m_sessionMutex);
        session.swap(m_session);
    }
    m_workingStories.reset();
    m_failedTasks = 0;
    m_totalTasks = 0;
    m_receiving.clear();
    m_arriving.clear();
    m_dataMap.clear();
    m_sourceMap.clear();
    {
        std::lock_guard lock(m_readAheadMutex);
        m_readAhead.clear();
    }
    // The feeds, stories and archives of the run are gone by now; what they took goes back to
    // the system once no refresh has run for a while. Given back at once, it would be taken again
    // page by page by a refresh that follows soon, and each of those page faults costs
    // microseconds on a virtual machine: some 25 ms of a refresh of 240 sources.
    const quint64 refresh = refreshGeneration;
    MainQueue::dispatchAfter(releaseMemoryAfterSeconds, [refresh] {
        if (refresh != refreshGeneration)
            return;
        // Off the main thread, and on a queue that outlives every refresh, whose end would
        // otherwise wait for it.
        static OperationQueue* const releasing = new OperationQueue(u"Sync releasing memory"_s);
        releasing->addOperation(releaseFreedMemory);
    });
}

} // namespace Tickerly::Data

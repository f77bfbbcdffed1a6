#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/Source.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/FeedParser.h"
#include "platform/foundation/network/UrlSession.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace Tickerly::Foundation {
class OperationQueue;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

class FirstSightings;

// The refresh engine: downloads every source's feed at once over a session of its own, parses
// them into stories and stores them newest first (StoredStoriesData), then tells its caller on
// the main queue whether the stored list was replaced.
//
// Made through create() and owned by the caller; while a run is under way its session and the
// block queued on the main queue keep it alive too. updateStories runs on the caller's thread;
// every download callback runs on the session's delegate queue, one at a time, which alone
// touches the maps and counters while downloads are under way. Each feed is read ahead, side by
// side on reader queues of the object's own: as it arrives, piece by piece, for a plain Sync, and
// as soon as its download completes where the parsing step may be overridden; once the session
// has ended and every read is done, the gathering, sorting and storing follow on a parse queue of
// its own, one feed after another in one fixed order, as if every feed were read only then.
// cancel() may come from any thread. One run at a time per object.
class TICKERLYDATAMAC_EXPORT Sync : public Foundation::UrlSessionDelegate,
                                    public std::enable_shared_from_this<Sync> {
public:
    using Completion = std::function<void(bool)>;

    static std::shared_ptr<Sync> create();
    ~Sync() override;

    // Starts a run over the sources of the shared suite. The completion gets true, on the main
    // queue, when the stored list was replaced (or kept to be, while another program holds the
    // store), and false when every download failed, none could be made, no download brought a
    // feed, or the store refused the stories (storeRefused()). With no source at all an empty
    // list is stored and the completion gets true at once (false if refused), on the calling
    // thread. Never called for a cancelled run; a cancelled object starts nothing.
    void updateStories(
        std::optional<Foundation::UrlSessionConfiguration> sessionConfiguration = std::nullopt,
        Completion completion = {});
    // Ends the run: downloads are cancelled and no completion follows. For good.
    void cancel();

    bool isCancelled() const { return m_isCancelled; }
    // Whether the store refused the stories of the last run; read it in the completion.
    bool storeRefused() const { return m_storeRefused; }
    // The sources, completion and session of the run under way (read them on the caller's
    // thread between runs).
    const std::optional<QList<std::shared_ptr<Source>>>& sources() const { return m_sources; }
    const Completion& completion() const { return m_completion; }
    std::shared_ptr<Foundation::UrlSession> session() const;
    const std::optional<QList<std::shared_ptr<NewsStory>>>& workingStories() const
    {
        return m_workingStories;
    }

protected:
    Sync();

    // The run's session: `sessionConfiguration` (or the default one) made to bypass every cache,
    // with this object as its delegate.
    std::shared_ptr<Foundation::UrlSession> createSession(
        std::optional<Foundation::UrlSessionConfiguration> sessionConfiguration);
    // The download of `source`, not started; null when its link is not a URL.
    std::shared_ptr<Foundation::UrlSessionDataTask> taskForSource(
        Foundation::UrlSession& session, const std::shared_ptr<Source>& source);
    // Reads one downloaded document, one after another in the gathering step; the document
    // already read ahead as its download completed is handed out rather than read again.
    virtual std::shared_ptr<FeedParser> parseFeed(
        const QByteArray& data, const std::shared_ptr<Source>& source);

    void didReceiveData(Foundation::UrlSession& session, Foundation::UrlSessionDataTask& task,
        const QByteArray& data) override;
    void didCompleteWithError(Foundation::UrlSession& session, Foundation::UrlSessionDataTask& task,
        const std::optional<Foundation::Error>& error) override;
    void didBecomeInvalidWithError(
        Foundation::UrlSession& session, const std::optional<Foundation::Error>& error) override;

private:
    void parseStories();
    // Calls the completion on the main queue (unless cancelled by then), then cleans up there.
    void reportOnMainQueue(bool success);
    void cleanup();

    std::optional<QList<std::shared_ptr<Source>>> m_sources;
    Completion m_completion;
    // Guarded: cancel() may read it from any thread while the run clears it.
    mutable std::mutex m_sessionMutex;
    std::shared_ptr<Foundation::UrlSession> m_session;
    std::atomic<bool> m_isCancelled = false;
    std::optional<QList<std::shared_ptr<NewsStory>>> m_workingStories;
    int m_totalTasks = 0;
    int m_failedTasks = 0;
    // What the run's downloads brought, on the delegate queue; read once they are over.
    qint64 m_receivedBytes = 0;
    // Set on the parse queue before the completion is queued, read after it on the main queue.
    bool m_storeRefused = false;
    // Feeds still arriving for a parsing step of another class, by task, in the pieces they came
    // in: held once, never copied on the way. Once whole they go to m_dataMap and to a reader.
    struct IncomingFeed {
        std::vector<QByteArray> pieces;
    };
    std::unordered_map<qint64, IncomingFeed> m_receiving;
    // When nothing can override the parsing step, a feed is read as it arrives instead: each
    // piece goes to the feed's reader queue and is let go once read, so no body is held whole.
    // The map is the delegate queue's; the parser and flags are touched on the reader only (but
    // `dropped`, set when the download fails).
    struct ArrivingFeed {
        explicit ArrivingFeed(std::shared_ptr<Source> source)
            : parser(std::move(source))
        {
        }
        FeedParser parser;
        Foundation::OperationQueue* reader = nullptr;
        std::atomic<bool> dropped = false;
        bool outOfMemory = false;
    };
    std::unordered_map<qint64, std::shared_ptr<ArrivingFeed>> m_arriving;
    std::unordered_map<qint64, QByteArray> m_dataMap;
    std::unordered_map<qint64, std::shared_ptr<Source>> m_sourceMap;
    // A feed's stories as the store takes them: archived one after another into one buffer, each
    // with the time it is sorted by (FirstSightings::rankingTime) and where it ends.
    struct ArchivedFeed {
        bool isFeed = false;
        QByteArray archive;
        struct Story {
            qint64 time;
            qsizetype end;
        };
        std::vector<Story> stories;
        // Those of its stories that carry a first sighting, each by its place in the feed.
        std::vector<StoredStoriesData::Sighting> sightings;
    };
    static ArchivedFeed archivedFeed(const FeedParser& parser, FirstSightings& sightings);
    // A story of the run by where its feed archived it, with the time it is sorted by.
    struct RankedStory {
        qint64 time;
        quint32 feed;
        quint32 story;
    };
    // The run's stories, newest first.
    static std::vector<RankedStory> storyOrder(const std::vector<ArchivedFeed>& feeds);
    // The run's first sightings, made as it starts.
    std::shared_ptr<FirstSightings> m_sightings;
    struct ReadAhead {
        QByteArray data;
        std::shared_ptr<FeedParser> parser;
        // When the read is final: the feed archived; its parser and stories are let go at once.
        std::optional<ArchivedFeed> archived;
        // The read ran out of memory: the feed adds no stories.
        bool outOfMemory = false;
    };
    struct WaitingRead {
        qint64 identifier = 0;
        QByteArray data;
        std::shared_ptr<Source> source;
    };
    void readAhead(qint64 identifier, QByteArray data, std::shared_ptr<Source> source);
    void readWaitingFeeds();
    // A read is over: its outcome is kept for the gathering, which the last read starts.
    void endRead(qint64 identifier, ReadAhead read);
    void gatherOnParseQueue(bool failed);
    // The downloaded feeds' stories, in the sources' order; gatherFeed gives one feed's, read
    // ahead or read now, or nothing when it adds none.
    std::vector<ArchivedFeed> gatherFeeds();
    std::optional<ArchivedFeed> gatherFeed(
        qint64 identifier, const QByteArray& data, const std::shared_ptr<Source>& source);
    // Stores the feeds' stories in `order` (storeRefused() then says how the store took them).
    void storeStories(std::vector<ArchivedFeed>& feeds, std::vector<RankedStory> order);

    // Feeds read ahead, by task, the downloads waiting for a reader, and the reads still under
    // way; guarded by m_readAheadMutex.
    std::mutex m_readAheadMutex;
    std::unordered_map<qint64, ReadAhead> m_readAhead;
    std::deque<WaitingRead> m_waitingReads;
    int m_readsUnderWay = 0;
    // The session ended while reads were under way: the last one starts the gathering.
    std::optional<bool> m_gatherAfterReads;
    // Touched only on the parse queue.
    std::optional<ReadAhead> m_offered;
    std::unique_ptr<Foundation::OperationQueue> m_parseQueue;
    // Feeds are read ahead side by side; each download wakes one reader in turn.
    std::vector<std::unique_ptr<Foundation::OperationQueue>> m_readers;
    size_t m_nextReader = 0;
    // Nothing can override the parsing step (the object is a plain Sync): a feed read ahead is
    // what the gathering uses, so it is read as it arrives and its downloaded bytes go as soon as
    // they are read, and its stories are archived right there and let go (the working stories
    // stay empty). Set for each run on the caller's thread.
    bool m_readAheadIsFinal = false;
};

} // namespace Tickerly::Data

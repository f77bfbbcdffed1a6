#include "data/discovery/IconLoading.h"
#include "data/discovery/SourceAdder.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "testsupport/SearchStandIn.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/store/UserDefaults.h"
#include "testsupport/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using DiscoveryTest::pageReply;
using DiscoveryTest::rss;
using DiscoveryTest::serveSitePages;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;

namespace {

// The order in which the caller and the observers of the stores hear of an add, on the main
// thread.
struct Events {
    QStringList seen;
    bool allOnMain = true;
    ObserverToken sources = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [this](const Notification& n) {
            record(n.userInfo.contains(SourcesData::addedSourcesKey()) ? u"added"_s : u"updated"_s);
        });
    ObserverToken icons
        = NotificationCenter::defaultCenter().addObserver(SourceIconData::iconUpdateNotification(),
            nullptr, [this](const Notification&) { record(u"icon"_s); });

    void record(const QString& event)
    {
        seen.append(event);
        allOnMain = allOnMain && MainQueue::isCurrent();
    }
    std::function<void(bool)> completion()
    {
        return [this](bool ok) { record(ok ? u"true"_s : u"false"_s); };
    }
    bool waitFor(qsizetype count)
    {
        const bool ok = TestSupport::waitFor([&] { return seen.size() >= count; });
        TestSupport::processEvents();
        return ok;
    }
};

class Adding : public ::testing::Test {
protected:
    void SetUp() override
    {
        SearchStandIn::installKey("Qzb3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A");
        search.answer([](const QString&) { return SearchStandIn::results({}); });
        for (const auto& host : { u"feeds.planet.test"_s, u"planet.test"_s, u"dull.test"_s })
            UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
        server.reply(u"/rss"_s, TestSupport::bodyReply(rss("Planet", "http://planet.test/")));
        serveSitePages(server, "planet.test", Qt::red);
    }
    void TearDown() override
    {
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    int requests(const QByteArray& host, const QByteArray& path) const
    {
        int n = 0;
        for (const RecordedRequest& request : server.requests())
            n += request.header("host") == host && request.path == path;
        return n;
    }

    LoopbackServer server;
    SearchStandIn search { server };
    std::shared_ptr<UserDefaults> suite = std::make_shared<UserDefaults>(u"adder.test"_s);
};

} // namespace

TEST_F(Adding, ReportsSuccessAfterStoringAndBeforeEveryNotificationThenFindsTheIcon)
{
    Events events;
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/rss"_s, events.completion());
    ASSERT_TRUE(events.waitFor(3));
    EXPECT_EQ(events.seen, (QStringList { u"true"_s, u"added"_s, u"icon"_s }));
    EXPECT_TRUE(events.allOnMain);
    const auto stored = SourcesData(suite).sources();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->title(), u"Planet"_s);
    EXPECT_EQ(SourceIconData::iconForSource(*stored.first()).size(), QSize(96, 96));
    // Only the given suite was written.
    EXPECT_TRUE(SourcesData().sources().isEmpty());

    // The same feed again: success again, still one entry, and a second icon search.
    Events again;
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/rss"_s, again.completion());
    ASSERT_TRUE(again.waitFor(2));
    EXPECT_EQ(again.seen, (QStringList { u"true"_s, u"icon"_s }));
    EXPECT_EQ(SourcesData(suite).sources().size(), 1);
    EXPECT_EQ(requests("planet.test", "/touch.png"), 2);
}

TEST_F(Adding, WithoutACompletionStillStoresAndSearchesAndMarksASourceWithoutIcon)
{
    server.reply(u"/dull"_s, TestSupport::bodyReply(rss("Dull", "http://dull.test/")));
    Events events;
    {
        // The adder may go at once: its pending steps carry on.
        SourceAdder adder(nullptr, suite);
        adder.addSource(u"http://feeds.planet.test/dull"_s);
    }
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen, (QStringList { u"added"_s, u"updated"_s }));
    const auto stored = SourcesData(suite).sources();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored.first()->noIconFound);
    EXPECT_EQ(requests("dull.test", "/"), 2);

    // A later sweep leaves it alone: it searches only a source added since, listed after it.
    (void)SourcesData(suite).addSource(
        std::make_shared<Source>(u"Planet"_s, u"http://feeds.planet.test/rss"_s));
    ASSERT_TRUE(events.waitFor(3));
    findMissingIcons(SourcesData(suite));
    ASSERT_TRUE(events.waitFor(4));
    EXPECT_EQ(events.seen, (QStringList { u"added"_s, u"updated"_s, u"added"_s, u"icon"_s }));
    // A search of the marked source would have asked for the same icon, and asked first.
    EXPECT_EQ(requests("planet.test", "/touch.png"), 1);
}

TEST_F(Adding, AnAddressStoredUnderAnotherTitleIsASuccessThatKeepsThatTitle)
{
    server.reply(u"/dull"_s, TestSupport::bodyReply(rss("Dull", "http://dull.test/")));
    const QString address = u"http://feeds.planet.test/dull"_s;
    (void)SourcesData(suite).addSource(std::make_shared<Source>(u"Dull Daily"_s, address));
    TestSupport::processEvents();
    Events events;
    SourceAdder(nullptr, suite).addSource(address, events.completion());
    // No addition; the icon search finds nothing and marks the stored source.
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen, (QStringList { u"true"_s, u"updated"_s }));
    const auto stored = SourcesData(suite).sources();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->title(), u"Dull Daily"_s);
    EXPECT_TRUE(stored.first()->noIconFound);
}

TEST_F(Adding, AFailedDiscoveryReportsFalseOnceAndChangesNothing)
{
    (void)SourcesData(suite).addSource(
        std::make_shared<Source>(u"Kept"_s, u"http://kept.test/rss"_s));
    TestSupport::processEvents();
    server.reply(u"/plain"_s, pageReply("<title>No feed here</title>"));
    Events events;
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/plain"_s, events.completion());
    ASSERT_TRUE(events.waitFor(1));
    // The same again: its answer comes after anything the first would still do.
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/plain"_s, events.completion());
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen, (QStringList { u"false"_s, u"false"_s }));
    EXPECT_EQ(SourcesData(suite).sources().size(), 1);
    EXPECT_EQ(requests("planet.test", "/"), 0);
}

TEST_F(Adding, AnAdditionTheStoreRefusesReportsFalseAndSearchesNoIcon)
{
    // The store's file is gone and cannot be made again, so every change is refused.
    const QString file
        = *GroupContainer::path(u"adder.test"_s) + u"/Preferences/adder.test.sqlite"_s;
    ASSERT_TRUE(QFile::rename(file, file + u".gone"_s));
    ASSERT_TRUE(QDir().mkdir(file));
    Events events;
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/rss"_s, events.completion());
    ASSERT_TRUE(events.waitFor(1));
    SourceAdder(nullptr, suite).addSource(u"http://feeds.planet.test/rss"_s, events.completion());
    ASSERT_TRUE(events.waitFor(2));
    EXPECT_EQ(events.seen, (QStringList { u"false"_s, u"false"_s }));
    EXPECT_EQ(requests("planet.test", "/"), 0);
    QDir().rmdir(file);
}

// Podcast and archive feeds run to tens of MB: one of 20 MB is added, and a refresh reads it to
// its last item. Shown at a tenth of the body caps and of the feed, past the cap of pages still.
TEST_F(Adding, AddsAndRefreshesAFeedOfTwentyMegabytes)
{
    UrlSessionTesting::divideBodyLimits(10);
    const auto restore = qScopeGuard([] { UrlSessionTesting::divideBodyLimits(1); });
    const int size = 2 * 1000 * 1000;
    ASSERT_GT(size, UrlRequest::pageBodyLimit / 10);
    QByteArray feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Archive</title>"
                      "<link>http://planet.test/</link>";
    const QByteArray notes(1000, 'n');
    for (int i = 0; feed.size() < size; ++i) {
        feed += "<item><title>Episode " + QByteArray::number(i)
            + "</title><link>http://planet.test/" + QByteArray::number(i) + "</link><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'000'000 + i, Qt::UTC)
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate><description>" + notes + "</description></item>";
    }
    feed += "<item><title>Last</title><link>http://planet.test/last</link><pubDate>"
        + QDateTime::fromSecsSinceEpoch(2'000'000'000, Qt::UTC).toString(Qt::RFC2822Date).toUtf8()
        + "</pubDate></item></channel></rss>";
    ASSERT_GT(feed.size(), size);
    server.reply(u"/archive"_s, TestSupport::bodyReply(feed));

    Events events;
    SourceAdder().addSource(u"http://feeds.planet.test/archive"_s, events.completion());
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(events.seen.first(), u"true"_s);
    ASSERT_EQ(SourcesData().sources().size(), 1);
    EXPECT_EQ(SourcesData().sources().first()->title(), u"Archive"_s);

    auto sync = Sync::create();
    std::optional<bool> refreshed;
    sync->updateStories(std::nullopt, [&refreshed](bool ok) { refreshed = ok; });
    ASSERT_TRUE(TestSupport::waitFor([&] { return refreshed.has_value(); }, 60000));
    EXPECT_TRUE(*refreshed);
    const auto stories = StoredStoriesData().storedStories();
    ASSERT_FALSE(stories.isEmpty());
    ASSERT_TRUE(stories.first()->link());
    EXPECT_EQ(stories.first()->link()->absoluteString(), u"http://planet.test/last"_s);
}

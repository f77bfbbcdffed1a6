#include "app/shell/Spinner.h"
#include "app/shell/StoriesStoryboard.h"
#include "app/shell/StoriesViewController.h"
#include "app/shell/Storyboards.h"
#include "app/shell/tests/ScrollTesting.h"

#include "data/model/SourcesData.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Sound.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UrlSessionTesting.h"
#include "storylist/ListCellView.h"
#include "storylist/TodayView.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/LoopbackServer.h"

#include <QDir>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace scrolltesting;

namespace {

// Counts the refreshes it starts, also after it is gone.
class CountingStoriesController : public StoriesViewController {
public:
    explicit CountingStoriesController(std::shared_ptr<int> counter)
        : reloads(std::move(counter))
    {
    }
    void willReload(TodayDataSource* source) override
    {
        ++*reloads;
        StoriesViewController::willReload(source);
    }
    std::shared_ptr<int> reloads;
};

class RecordingWorkspace : public Workspace {
public:
    bool openURL(const Url& url) override
    {
        opened.append(url.absoluteString());
        return true;
    }
    QStringList opened;
};

class StoriesWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        MainQueue::setClock(&clock);
        TableView::setDefaultAnimationDuration(0);
        ScrollView::setEndsGesturesAfterQuietTime(false);
        previousPlayer = setSoundPlayer([this](const QString& name) { sounds.append(name); });
        Workspace::setSharedWorkspace(&workspace);
    }

    void TearDown() override
    {
        controller.reset();
        window.reset();
        clock.advance(1);
        Workspace::setSharedWorkspace(nullptr);
        setSoundPlayer(previousPlayer);
        MainQueue::setClock(nullptr);
        storylisttest::drainPostedNotifications();
    }

    // The stories list in a shown window, as the storyboard builds it.
    void open()
    {
        window = std::make_unique<QWidget>();
        window->resize(380, 620);
        controller = std::make_unique<CountingStoriesController>(reloads);
        controller->setView(storiesView(controller.get()));
        QWidget* view = controller->view();
        view->setParent(window.get());
        view->setGeometry(window->rect());
        window->show();
        testsupport::processEvents();
    }

    TableView* table() const { return controller->contentView()->tableView(); }
    WidgetScrollView* scrollView() const { return controller->scrollView(); }
    double origin() const { return originY(scrollView()->clipView()); }

    // A touchpad pull down to at most `y`, then let go.
    void pullAndRelease(double y)
    {
        touchpad(scrollView(), QPoint(), Qt::ScrollBegin);
        while (origin() > y)
            touchpad(scrollView(), QPoint(0, 6), Qt::ScrollUpdate);
        touchpad(scrollView(), QPoint(), Qt::ScrollEnd);
    }

    VirtualClock clock;
    SoundPlayer previousPlayer;
    QStringList sounds;
    RecordingWorkspace workspace;
    std::shared_ptr<int> reloads = std::make_shared<int>(0);
    std::unique_ptr<QWidget> window;
    std::unique_ptr<CountingStoriesController> controller;
};

TEST_F(StoriesWindowTest, RefreshesEveryFiveMinutesWhateverManualRefreshesHappen)
{
    open();
    clock.advance(100);
    controller->refresh();
    clock.advance(150);
    controller->wantsRefresh(scrollView());
    EXPECT_EQ(*reloads, 3);
    clock.advance(49.9);
    EXPECT_EQ(*reloads, 3);
    clock.advance(0.1); // 5 minutes
    EXPECT_EQ(*reloads, 4);
    clock.advance(300);
    EXPECT_EQ(*reloads, 5);
    clock.advance(50);
    controller->refresh();
    clock.advance(250); // 15 minutes
    EXPECT_EQ(*reloads, 7);
    EXPECT_EQ(sounds, QStringList({ u"clickwave.wav"_s, u"clickwave.wav"_s, u"clickwave.wav"_s }));

    // Gone, its chain ends without a refresh; a new list starts a chain of its own.
    controller.reset();
    window.reset();
    clock.advance(600);
    EXPECT_EQ(*reloads, 7);
    open();
    clock.advance(300);
    EXPECT_EQ(*reloads, 9);
}

TEST_F(StoriesWindowTest, APullWithNoSourcesIsFinishedWithinTheGestureAndClicksEachTime)
{
    storylisttest::storeStories(3);
    open();
    pullAndRelease(40);
    EXPECT_FALSE(scrollView()->refreshing());
    EXPECT_EQ(*reloads, 2);
    clock.advance(0.5);
    pullAndRelease(40);
    EXPECT_EQ(*reloads, 3);
    EXPECT_EQ(sounds, QStringList({ u"clickwave.wav"_s, u"clickwave.wav"_s }));
    clock.advance(0.5);
    EXPECT_EQ(origin(), 76);
}

class StoriesWindowRefresh : public StoriesWindowTest {
protected:
    void SetUp() override
    {
        StoriesWindowTest::SetUp();
        UrlSessionTesting::mapToLoopback(u"http"_s, u"feeds.example.test"_s, 80, server.port());
        testsupport::ScriptedReply ok = testsupport::bodyReply("{}");
        ok.headers = { { "Content-Type", "application/json" } };
        server.reply(u"/api/v1/stories/clicked"_s, ok);
        const Url api = TickerlyAPIClient::defaultBaseURL();
        UrlSessionTesting::mapToLoopback(
            u"http"_s, api.host(), api.port().value_or(80), server.port());
    }
    void TearDown() override
    {
        StoriesWindowTest::TearDown();
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    void serveFeed(const QString& path, const QStringList& headlines, int minutes)
    {
        QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>";
        for (const QString& headline : headlines) {
            doc += "<item><title>" + headline.toUtf8() + "</title><link>http://site.example.test/"
                + QUrl::toPercentEncoding(headline) + "</link><pubDate>"
                + QDateTime::fromSecsSinceEpoch(60 * minutes--, Qt::UTC)
                      .toString(Qt::RFC2822Date)
                      .toUtf8()
                + "</pubDate></item>";
        }
        testsupport::ScriptedReply reply = testsupport::bodyReply(doc + "</channel></rss>");
        reply.headers = { { "Content-Type", "application/rss+xml" } };
        server.reply(path, reply);
    }

    testsupport::LoopbackServer server;
};

TEST_F(StoriesWindowRefresh, ShowsEveryStoryBelowOneEmptyRow)
{
    serveFeed(u"/news"_s,
        { u"Story 0"_s, u"Story 1"_s, u"Story 2"_s, u"Story 3"_s, u"Story 4"_s, u"Story 5"_s,
            u"Story 6"_s },
        100);
    SourcesData().addSource(
        std::make_shared<Source>(u"News"_s, u"http://feeds.example.test/news"_s));
    testsupport::processEvents();
    open();
    EXPECT_EQ(*reloads, 1);
    EXPECT_TRUE(controller->dataSource.expanded());
    EXPECT_EQ(scrollView()->delegate(), controller.get());
    // Every story, not the preferred five, below the empty row.
    ASSERT_TRUE(testsupport::waitFor([&] { return table()->numberOfRows() == 8; }));
    EXPECT_EQ(controller->dataSource.objectValueForTableColumn(table(), 0, 0), QVariant(0));
    auto* first = dynamic_cast<ListCellView*>(table()->viewAtRow(1));
    ASSERT_TRUE(first);
    auto data = first->objectValue().value<std::shared_ptr<const ListRowViewData>>();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->title, u"Story 0"_s);

    // The list rests with the empty row under the hidden strip and the first story on top.
    EXPECT_EQ(origin(), 76);
    EXPECT_EQ(table()->rectOfRow(1).top(), 77);
}

TEST_F(StoriesWindowRefresh, APullOnTheTouchpadRefreshesFromTheFeedsAndClosesTheStrip)
{
    ASSERT_TRUE(UrlSessionTesting::isLoopbackOnly());
    serveFeed(u"/news"_s, { u"Early"_s }, 100);
    SourcesData().addSource(
        std::make_shared<Source>(u"News"_s, u"http://feeds.example.test/news"_s));
    testsupport::processEvents();
    open();
    ASSERT_TRUE(testsupport::waitFor([&] { return table()->numberOfRows() == 2; }));

    serveFeed(u"/news"_s, { u"Later"_s, u"Early"_s }, 101);
    pullAndRelease(40);
    EXPECT_TRUE(scrollView()->refreshing());
    EXPECT_EQ(sounds, QStringList { u"clickwave.wav"_s });
    EXPECT_EQ(scrollView()->refreshView()->spinner()->sequenceName(), u"spinner"_s);
    clock.advance(0.5);
    EXPECT_LE(origin(), 40);

    ASSERT_TRUE(testsupport::waitFor([&] { return !scrollView()->refreshing(); }));
    EXPECT_EQ(table()->numberOfRows(), 3);
    clock.advance(0.3);
    EXPECT_EQ(origin(), 76);

    // The open strip lies over the first story's top: a click there is the story's.
    pullAndRelease(-30);
    clock.advance(0.5);
    ASSERT_EQ(origin(), 0);
    const QPoint overStrip(190, 85);
    QWidget* hit = window->childAt(overStrip);
    ASSERT_TRUE(hit);
    EXPECT_EQ(table()->rowForView(hit), 1);
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, overStrip);
    EXPECT_EQ(workspace.opened, QStringList { u"http://site.example.test/Later"_s });
}

TEST_F(StoriesWindowRefresh, ScreenshotsAtRestAndWithTheStripOpen)
{
    serveFeed(u"/news"_s,
        { u"Harbour bridge reopens after a year of repairs"_s,
            u"Local bakery wins the regional bread prize"_s,
            u"Storm warning for the north coast tonight"_s,
            u"City council approves new cycle lanes"_s,
            u"Museum opens its archive to the public"_s },
        100);
    SourcesData().addSource(
        std::make_shared<Source>(u"News"_s, u"http://feeds.example.test/news"_s));
    testsupport::processEvents();
    registerApplicationStoryboards();
    const std::shared_ptr<WindowController> scene = controllerCast<WindowController>(
        Storyboard::named(u"Stories"_s)->instantiateInitialController());
    ASSERT_TRUE(scene);
    auto* stories = qobject_cast<StoriesViewController*>(scene->contentViewController());
    ASSERT_TRUE(stories);
    scene->showWindow(nullptr);
    TopLevelWindow* shown = scene->window();
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return stories->contentView()->tableView()->numberOfRows() == 6; }));
    WidgetScrollView* scroll = stories->scrollView();
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->delegate(), stories);
    testsupport::processEvents();
    QDir screenshots(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    screenshots.mkpath(u"."_s);
    EXPECT_TRUE(shown->grab().save(screenshots.filePath(u"stories-list.png"_s)));

    touchpad(scroll, QPoint(), Qt::ScrollBegin);
    while (originY(scroll->clipView()) > -10)
        touchpad(scroll, QPoint(0, 10), Qt::ScrollUpdate);
    touchpad(scroll, QPoint(), Qt::ScrollEnd);
    ASSERT_TRUE(scroll->refreshing());
    clock.advance(0.6); // the list settles with the strip in view, the wave turning
    EXPECT_EQ(originY(scroll->clipView()), 0);
    EXPECT_TRUE(shown->grab().save(screenshots.filePath(u"stories-refreshing.png"_s)));
    ASSERT_TRUE(testsupport::waitFor([&] { return !scroll->refreshing(); }));
    shown->close();
}

} // namespace

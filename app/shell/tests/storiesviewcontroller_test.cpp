#include "app/shell/PreferencesViewController.h"
#include "app/shell/Spinner.h"
#include "app/shell/StoriesStoryboard.h"
#include "app/shell/StoriesViewController.h"
#include "app/shell/Storyboards.h"
#include "app/shell/tests/ScrollTesting.h"

#include "data/model/SourcesData.h"
#include "data/model/StoryStateData.h"
#include "data/model/tests/ReadOnlyStore.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Sound.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "storylist/Preferences.h"
#include "storylist/ListCellView.h"
#include "storylist/ImageButton.h"
#include "storylist/ListRowContentView.h"
#include "storylist/TodayView.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/RecordingWorkspace.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/Pointer.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::API;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace ScrollTesting;

using TestSupport::RecordingWorkspace;

namespace {

// Counts the refreshes it starts, also once it is gone.
class CountingStoriesController : public StoriesViewController {
public:
    void willReload(TodayDataSource* source) override
    {
        ++*reloads;
        StoriesViewController::willReload(source);
    }
    std::shared_ptr<int> reloads = std::make_shared<int>(0);
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
        StoryListTest::drainPostedNotifications();
    }

    // The stories list as the storyboard builds it, shown.
    void open(std::shared_ptr<int> reloads)
    {
        window = std::make_unique<QWidget>();
        window->resize(380, 620);
        controller = std::make_unique<CountingStoriesController>();
        controller->reloads = std::move(reloads);
        controller->setView(storiesView(controller.get()));
        controller->view()->setParent(window.get());
        controller->view()->setGeometry(window->rect());
        window->show();
        TestSupport::processEvents();
    }

    WidgetScrollView* scrollView() const { return controller->scrollView(); }

    VirtualClock clock;
    SoundPlayer previousPlayer;
    QStringList sounds;
    RecordingWorkspace workspace;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<CountingStoriesController> controller;
};

// A touchpad pull down to at most `y`, then let go.
void pullAndRelease(WidgetScrollView* scrollView, double y)
{
    touchpad(scrollView, QPoint(), Qt::ScrollBegin);
    while (originY(scrollView->clipView()) > y)
        touchpad(scrollView, QPoint(0, 6), Qt::ScrollUpdate);
    touchpad(scrollView, QPoint(), Qt::ScrollEnd);
}

TEST_F(StoriesWindowTest, RefreshesEveryFiveMinutesWhateverManualRefreshesHappen)
{
    auto reloads = std::make_shared<int>(0);
    open(reloads);
    clock.advance(100);
    controller->refresh();
    clock.advance(150);
    controller->wantsRefresh(scrollView());
    clock.advance(49.9);
    EXPECT_EQ(*reloads, 3);
    clock.advance(0.1); // 5 minutes
    EXPECT_EQ(*reloads, 4);
    clock.advance(350);
    controller->refresh();
    clock.advance(250); // 15 minutes
    EXPECT_EQ(*reloads, 7);
    EXPECT_EQ(sounds.size(), 3);

    // Gone, its chain ends without a refresh; a new list starts a chain of its own.
    controller.reset();
    window.reset();
    clock.advance(600);
    EXPECT_EQ(*reloads, 7);
    open(reloads);
    clock.advance(300);
    EXPECT_EQ(*reloads, 9);
}

TEST_F(StoriesWindowTest, APullWithNoSourcesIsFinishedWithinTheGestureAndClicksEachTime)
{
    auto reloads = std::make_shared<int>(0);
    open(reloads);
    pullAndRelease(scrollView(), 40);
    EXPECT_FALSE(scrollView()->refreshing());
    clock.advance(0.5);
    pullAndRelease(scrollView(), 40);
    EXPECT_EQ(*reloads, 3);
    EXPECT_EQ(sounds, QStringList({ u"clickwave.wav"_s, u"clickwave.wav"_s }));
    clock.advance(0.5);
    EXPECT_EQ(originY(scrollView()->clipView()), 76);
}

class StoriesWindowRefresh : public StoriesWindowTest {
protected:
    void SetUp() override
    {
        StoriesWindowTest::SetUp();
        UrlSessionTesting::mapToLoopback(u"http"_s, u"feeds.example.test"_s, 80, server.port());
        TestSupport::ScriptedReply ok = TestSupport::bodyReply("{}");
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

    // The feed "/news" with these headlines, newest first, linked to their pages.
    void serveFeed(const QStringList& headlines, int delayMs = 0)
    {
        const qint64 newest = QDateTime::currentSecsSinceEpoch() - 600;
        QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>";
        for (int i = 0; i < headlines.size(); ++i) {
            doc += "<item><title>" + headlines[i].toUtf8()
                + "</title><link>http://site.example.test/" + QByteArray::number(i)
                + "</link><pubDate>"
                + QDateTime::fromSecsSinceEpoch(newest - 3600 * i, Qt::UTC)
                      .toString(Qt::RFC2822Date)
                      .toUtf8()
                + "</pubDate></item>";
        }
        TestSupport::ScriptedReply reply = TestSupport::bodyReply(doc + "</channel></rss>");
        reply.headers = { { "Content-Type", "application/rss+xml" } };
        reply.delayMs = delayMs;
        server.reply(u"/news"_s, reply);
    }

    // The stories window of the storyboard over the one source "News" ("/news"), not yet shown.
    std::shared_ptr<WindowController> makeScene()
    {
        (void)SourcesData().addSource(
            std::make_shared<Source>(u"News"_s, u"http://feeds.example.test/news"_s));
        TestSupport::processEvents();
        registerApplicationStoryboards();
        return controllerCast<WindowController>(
            Storyboard::named(u"Stories"_s)->instantiateInitialController());
    }

    // The scene's list, its window shown.
    StoriesViewController* show(const std::shared_ptr<WindowController>& scene)
    {
        auto* stories = qobject_cast<StoriesViewController*>(scene->contentViewController());
        if (stories)
            scene->showWindow(nullptr);
        return stories;
    }

    TestSupport::LoopbackServer server;
};

TEST_F(StoriesWindowRefresh, APullOnTheTouchpadRefreshesFromTheFeedsAndClosesTheStrip)
{
    ASSERT_TRUE(UrlSessionTesting::isLoopbackOnly());
    QStringList headlines { u"Local bakery wins the regional bread prize"_s,
        u"Storm warning for the north coast tonight"_s, u"City council approves new cycle lanes"_s,
        u"Museum opens its archive to the public"_s, u"Ferry timetable changes in May"_s,
        u"Volunteers clean up the river banks"_s };
    serveFeed(headlines);
    const auto scene = makeScene();
    ASSERT_TRUE(scene);
    auto* stories = show(scene);
    ASSERT_TRUE(stories);
    TopLevelWindow* shown = scene->window();
    TableView* table = stories->contentView()->tableView();
    WidgetScrollView* scroll = stories->scrollView();
    ASSERT_TRUE(scroll);
    EXPECT_EQ(scroll->delegate(), stories);

    // Every story, not the preferred five, below an empty row that rests under the hidden strip.
    ASSERT_TRUE(TestSupport::waitFor([&] { return table->numberOfRows() == 7; }));
    EXPECT_EQ(stories->dataSource.objectValueForTableColumn(table, 0, 0), QVariant(0));
    EXPECT_EQ(originY(scroll->clipView()), 76);
    EXPECT_EQ(table->rectOfRow(1).top(), 77);
    QDir screenshots(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    screenshots.mkpath(u"."_s);
    TestSupport::processEvents();
    EXPECT_TRUE(shown->grab().save(screenshots.filePath(u"stories-list.png"_s)));

    headlines.prepend(u"Harbour bridge reopens after a year of repairs"_s);
    serveFeed(headlines);
    pullAndRelease(scroll, -10);
    EXPECT_TRUE(scroll->refreshing());
    EXPECT_EQ(sounds, QStringList { u"clickwave.wav"_s });
    EXPECT_EQ(scroll->refreshView()->spinner()->sequenceName(), u"spinner"_s);
    clock.advance(0.6); // the list settles with the strip in view, the wave turning
    EXPECT_EQ(originY(scroll->clipView()), 0);
    EXPECT_TRUE(shown->grab().save(screenshots.filePath(u"stories-refreshing.png"_s)));

    // The open strip lies over the first story's top: a click there is the story's.
    const QPoint overStrip = scroll->mapTo(shown, QPoint(190, 80));
    QTest::mouseClick(shown->windowHandle(), Qt::LeftButton, {}, overStrip);
    EXPECT_EQ(workspace.opened, QStringList { u"http://site.example.test/0"_s });

    ASSERT_TRUE(TestSupport::waitFor([&] { return !scroll->refreshing(); }));
    EXPECT_EQ(table->numberOfRows(), 8);
    clock.advance(0.3);
    EXPECT_EQ(originY(scroll->clipView()), 76);
    shown->close();
}

TEST_F(StoriesWindowRefresh, MakesTheRowsOfAFullListWhileItWaitsOnTheFeeds)
{
    QStringList headlines;
    for (int i = 0; i < 30; ++i)
        headlines.append(u"Story number %1 of the day"_s.arg(i));
    serveFeed(headlines, 500);
    const auto scene = makeScene();
    ASSERT_TRUE(scene);
    auto* stories = qobject_cast<StoriesViewController*>(scene->contentViewController());
    ASSERT_TRUE(stories);
    TableView* table = stories->contentView()->tableView();
    EXPECT_EQ(table->findChildren<ListCellView*>().size(), 1); // the empty row's
    scene->showWindow(nullptr);
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return table->findChildren<ListCellView*>().size() == 21; }));
    EXPECT_EQ(table->numberOfRows(), 1);

    // The 20 stories fill the cells made before they came, and nothing else changes.
    ASSERT_TRUE(TestSupport::waitFor([&] { return table->numberOfRows() == 21; }));
    EXPECT_EQ(table->findChildren<ListCellView*>().size(), 21);
    for (int row = 1; row < 21; ++row) {
        auto* cell = qobject_cast<ListCellView*>(table->viewAtRow(row));
        ASSERT_TRUE(cell) << row;
        EXPECT_TRUE(cell->isVisibleTo(table)) << row;
    }
    scene->window()->close();
}

} // namespace

// On a store that can no longer be written, a refresh leaves the list as it was and says so in
// the banner, and so does a story closed with its button: it stays.
TEST_F(StoriesWindowRefresh, WhatTheStoreRefusesLeavesTheListAsItWasAndIsSaidInTheBanner)
{
    serveFeed({ u"Local bakery wins the regional bread prize"_s,
        u"Storm warning for the north coast tonight"_s });
    const auto scene = makeScene();
    ASSERT_TRUE(scene);
    auto* stories = show(scene);
    ASSERT_TRUE(stories);
    TopLevelWindow* shown = scene->window();
    TableView* table = stories->contentView()->tableView();
    ASSERT_TRUE(TestSupport::waitFor([&] { return table->numberOfRows() == 3; }));
    const ErrorBanner* banner = stories->errorBanner();
    ASSERT_TRUE(banner);
    EXPECT_FALSE(banner->isShown());

    ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.ok());
    serveFeed({ u"Harbour bridge reopens after a year of repairs"_s,
        u"Local bakery wins the regional bread prize"_s,
        u"Storm warning for the north coast tonight"_s });
    stories->refresh();
    ASSERT_TRUE(TestSupport::waitFor([&] { return banner->isShown(); }));
    EXPECT_EQ(banner->label()->text(), u"The new stories could not be saved"_s);
    EXPECT_EQ(table->numberOfRows(), 3);
    clock.advance(0.5);
    TestSupport::processEvents();
    QDir screenshots(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    screenshots.mkpath(u"."_s);
    EXPECT_TRUE(shown->grab().save(screenshots.filePath(u"stories-save-error.png"_s)));
    clock.advance(3.5);
    EXPECT_FALSE(banner->isShown());

    auto* cell = dynamic_cast<ListCellView*>(table->viewAtRow(1));
    ASSERT_TRUE(cell);
    const auto first = stories->dataSource.stories.at(0);
    TestSupport::Pointer pointer(shown);
    QWidget* close = cell->contentView->closeButton;
    pointer.click(QPointF(close->mapTo(shown, close->rect().center())));
    EXPECT_TRUE(banner->isShown());
    EXPECT_EQ(banner->label()->text(), u"The change could not be saved"_s);
    EXPECT_EQ(table->numberOfRows(), 3);
    EXPECT_EQ(*stories->dataSource.stories.at(0), *first);
    EXPECT_EQ(StoryStateData().stateForStory(*first), StoryState::None);
    shown->close();
}

namespace {

// Clicks where the checkbox takes clicks: its box.
void click(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect target = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, target.center());
}

} // namespace

// Settings changed in the Preferences window while another program holds the store: the list of
// this program shows them at once, in every row (a row the pointer enters too), and they are
// written once the store frees.
TEST_F(StoriesWindowRefresh, SettingsKeptWhileTheStoreIsHeldShowInEveryRowAtOnce)
{
    QStringList headlines;
    for (int i = 0; i < 8; ++i)
        headlines.append(u"Story number %1 of the day"_s.arg(i));
    serveFeed(headlines);
    const auto scene = makeScene();
    ASSERT_TRUE(scene);
    auto* stories = show(scene);
    ASSERT_TRUE(stories);
    TableView* table = stories->contentView()->tableView();
    ASSERT_TRUE(TestSupport::waitFor([&] { return table->numberOfRows() == 9; }));
    const auto rows = [&] {
        QList<ListCellView*> cells;
        for (int row = 1; row < table->numberOfRows(); ++row) {
            if (auto* cell = dynamic_cast<ListCellView*>(table->viewAtRow(row)))
                cells.append(cell);
        }
        return cells;
    };
    ASSERT_EQ(rows().size(), 8);
    for (ListCellView* cell : rows())
        ASSERT_GT(cell->contentView->imageWidth()->constant(), 0);

    const auto preferences = controllerCast<WindowController>(
        Storyboard::named(u"Preferences"_s)->instantiateInitialController());
    ASSERT_TRUE(preferences);
    preferences->showWindow(nullptr);
    auto* settings = qobject_cast<PreferencesViewController*>(preferences->contentViewController());
    ASSERT_TRUE(settings);
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);

    click(settings->imagesCheckbox);
    click(settings->buttonsCheckbox);
    EXPECT_EQ(sharedDefaults()->keptChanges(), 2);
    TestSupport::processEvents();
    for (ListCellView* cell : rows()) {
        EXPECT_EQ(cell->contentView->imageWidth()->constant(), 0);
        EXPECT_TRUE(cell->contentView->closeButton->isHidden());
        EXPECT_TRUE(cell->contentView->shareButton->isHidden());
    }
    TopLevelWindow* shown = scene->window();
    ListCellView* hovered = rows().at(2);
    TestSupport::Pointer pointer(shown);
    pointer.move(QPointF(hovered->mapTo(shown, hovered->rect().center())));
    EXPECT_TRUE(hovered->contentView->closeButton->isHidden());

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    EXPECT_TRUE(sharedDefaults()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(sharedDefaults()->value(QString::fromUtf16(widgetImagesKey)), QVariant(false));
    EXPECT_EQ(sharedDefaults()->value(QString::fromUtf16(widgetButtonsKey)), QVariant(false));
    preferences->window()->close();
    shown->close();
}

#include "storylist/TodayViewController.h"

#include "data/model/Shared.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "storylist/ListCellView.h"
#include "storylist/Label.h"
#include "storylist/ListRowContentView.h"
#include "storylist/Preferences.h"
#include "storylist/TodayView.h"
#include "storylist/TodayViewControllerInterface.h"
#include "storylist/tests/FeedSourceSupport.h"
#include "storylist/tests/StoryListTestSupport.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using StoryListTest::storeStories;

namespace {

class WidgetController : public ::testing::Test {
protected:
    void SetUp() override
    {
        TableView::setDefaultAnimationDuration(0);
        registerTodayViewControllerInterface();
    }
    void TearDown() override { StoryListTest::drainPostedNotifications(); }

    // A controller with its view loaded, as the widget host makes it.
    std::unique_ptr<TodayViewController> loaded()
    {
        auto controller = std::make_unique<TodayViewController>(u"AnotherName"_s);
        controller->view()->resize(320, 400);
        return controller;
    }

    static double height(TodayViewController& controller)
    {
        return controller.contentView()->heightConstraint()->constant();
    }
    static int rows(TodayViewController& controller)
    {
        return controller.contentView()->tableView()->numberOfRows();
    }
    static void setStoredExpanded(bool on)
    {
        // Straight into the suite: an announced write would refresh the list under the test.
        (void)sharedDefaults()->set(QString::fromUtf16(widgetExpandedKey), on);
    }
};

} // namespace

TEST_F(WidgetController, LoadsItsOwnInterfaceAndAsksForNoMarginsWhateverIsProposed)
{
    auto controller = loaded();
    EXPECT_EQ(controller->nibName(), u"TodayViewController"_s);
    TodayView* view = controller->contentView();
    ASSERT_NE(view->tableView(), nullptr);
    ASSERT_NE(view->expandButton(), nullptr);
    ASSERT_NE(view->spinner(), nullptr);
    for (const EdgeInsets proposed :
        { EdgeInsets {}, EdgeInsets { 5, 44, 5, 10 }, EdgeInsets { -3, 0, 1e9, 2 } })
        EXPECT_EQ(controller->widgetMarginInsetsForProposedMarginInsets(proposed),
            (EdgeInsets { 0, 0, 0, 0 }));
}

TEST_F(WidgetController, StartsFromTheStoredExpandedSetting)
{
    storeStories(8);
    for (const bool stored : { true, false }) {
        SCOPED_TRACE(stored);
        setStoredExpanded(stored);
        auto controller = loaded();
        EXPECT_EQ(controller->expanded(), stored);
        EXPECT_EQ(controller->contentView()->expanded(), stored);
        EXPECT_EQ(rows(*controller), stored ? 8 : 5);
        EXPECT_EQ(height(*controller), stored ? 8 * 77 + 30 : 5 * 77 + 30);
        EXPECT_EQ(controller->contentView()->expandButton()->text(),
            stored ? u"Show less"_s : u"Show more"_s);
    }
}

TEST_F(WidgetController, TwoExpandPressesRestoreHeightAndSettingWithOneWriteEach)
{
    StoryListTest::FeedSource feed(8);
    auto controller = loaded();
    bool updated = false;
    controller->widgetPerformUpdateWithCompletionHandler([&](NCUpdateResult) { updated = true; });
    ASSERT_TRUE(TestSupport::waitFor([&] { return updated; }));
    ASSERT_EQ(rows(*controller), 5);
    int writes = 0;
    auto counting = DistributedNotificationCenter::defaultCenter().addObserver(
        QString::fromUtf16(dataUpdatedNotification),
        QString::fromUtf16(dataUpdatedNotificationObject),
        [&](const QString&, const QString&) { ++writes; });
    QAbstractButton* button = controller->contentView()->expandButton();
    controller->view()->show();

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(Preferences().widgetExpanded());
    EXPECT_EQ(rows(*controller), 8);
    EXPECT_EQ(height(*controller), 8 * 77 + 30);
    EXPECT_EQ(button->text(), u"Show less"_s);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(Preferences().widgetExpanded());
    EXPECT_EQ(rows(*controller), 5);
    EXPECT_EQ(height(*controller), 5 * 77 + 30);
    EXPECT_EQ(button->text(), u"Show more"_s);

    StoryListTest::drainPostedNotifications();
    EXPECT_EQ(writes, 2);
    // The refreshes the two writes started end with the same stories and height.
    EXPECT_TRUE(TestSupport::waitFor([&] {
        return feed.server.requestCount(u"/feed"_s) == 3
            && !controller->contentView()->spinner()->isAnimating();
    }));
    EXPECT_EQ(height(*controller), 5 * 77 + 30);
}

TEST_F(WidgetController, AnUpdateRefreshesTheListReportsNewDataAndSizesTheView)
{
    storeStories(2);
    auto controller = loaded();
    EXPECT_EQ(rows(*controller), 2);
    EXPECT_EQ(height(*controller), 2 * 77 + 30);

    StoryListTest::FeedSource feed(7);
    QList<NCUpdateResult> results;
    controller->widgetPerformUpdateWithCompletionHandler(
        [&](NCUpdateResult result) { results.append(result); });
    ASSERT_TRUE(TestSupport::waitFor([&] { return !results.isEmpty(); }));
    TestSupport::processEvents();
    EXPECT_EQ(results, QList<NCUpdateResult> { NCUpdateResult::NewData });
    EXPECT_EQ(rows(*controller), 5);
    EXPECT_EQ(height(*controller), 5 * 77 + 30);
    EXPECT_FALSE(controller->contentView()->isEmpty());
}

TEST_F(WidgetController, AnEmptyListAfterAnUpdateShowsNoNewsAndIsOneHundredHigh)
{
    auto controller = loaded();
    controller->view()->show();
    bool done = false;
    controller->widgetPerformUpdateWithCompletionHandler([&](NCUpdateResult) { done = true; });
    ASSERT_TRUE(TestSupport::waitFor([&] { return done; }));
    TodayView* view = controller->contentView();
    EXPECT_TRUE(view->isEmpty());
    EXPECT_TRUE(view->emptyLabel->isVisible());
    EXPECT_FALSE(view->expandButton()->isVisible());
    EXPECT_EQ(height(*controller), 100);
}

TEST_F(WidgetController, EveryRowShowsItsButtonsWithoutHovering)
{
    storeStories(8);
    setStoredExpanded(true);
    auto controller = loaded();
    controller->view()->resize(320, 8 * 77 + 30);
    controller->view()->show();
    ASSERT_EQ(rows(*controller), 8);
    TableView* table = controller->contentView()->tableView();
    for (int row = 0; row < 8; ++row) {
        SCOPED_TRACE(row);
        auto* cell = dynamic_cast<ListCellView*>(table->viewAtRow(row));
        ASSERT_NE(cell, nullptr);
        EXPECT_TRUE(cell->buttonsAlwaysVisible());
        EXPECT_TRUE(cell->contentView->buttonsAlwaysVisible());
    }
}

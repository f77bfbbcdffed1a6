// The widget plug-in in the widget host's panel, over stories in the shared store.

#include "platform/notificationcenter/WidgetPanel.h"
#include "platform/notificationcenter/WidgetPluginLoader.h"
#include "storylist/TodayView.h"
#include "storylist/tests/FeedSourceSupport.h"
#include "storylist/tests/StoryListTestSupport.h"

#include <QAbstractButton>
#include <QDir>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::WidgetHost;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// The panel's height for `rows` story rows (the widget asks for no margins).
int panelHeight(int rows) { return WidgetPanel::titleHeight + (rows == 0 ? 100 : rows * 77 + 30); }

void screenshot(QWidget& panel, const QString& name)
{
    QDir().mkpath(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    panel.grab().save(QStringLiteral(TICKERLY_SCREENSHOT_DIR) + u'/' + name);
}

// The widget in a shown panel, its first update done, over a source of eight stories.
class WidgetInHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadedWidget widget = LoadedWidget::load(QStringLiteral(WIDGET_PLUGIN));
        ASSERT_TRUE(widget.ok()) << widget.error.toStdString();
        EXPECT_EQ(widget.principalClass, u"TodayViewController"_s);
        panel = std::make_unique<WidgetPanel>(std::move(widget.controller), widget.displayName);
        view = dynamic_cast<TodayView*>(panel->widgetView());
        ASSERT_NE(view, nullptr);
        panel->Show();
        ASSERT_TRUE(TestSupport::waitFor([&] { return panel->completedUpdates() == 1; }));
        ASSERT_TRUE(TestSupport::waitFor([&] { return panel->height() == panelHeight(5); }))
            << panel->height();
        EXPECT_EQ(view->tableView()->numberOfRows(), 5);
    }
    void TearDown() override
    {
        panel.reset();
        StoryListTest::drainPostedNotifications();
    }

    StoryListTest::FeedSource feed { 8 };
    std::unique_ptr<WidgetPanel> panel;
    TodayView* view = nullptr;
};

} // namespace

TEST_F(WidgetInHost, ShowsItsStoriesCollapsedAndExpandedAndTheHostFollows)
{
    EXPECT_EQ(panel->marginInsets(), (EdgeInsets { 0, 0, 0, 0 }));
    screenshot(*panel, u"widget-collapsed.png"_s);

    QTest::mouseClick(view->expandButton(), Qt::LeftButton);
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == panelHeight(8); }))
        << panel->height();
    EXPECT_EQ(view->tableView()->numberOfRows(), 8);
    screenshot(*panel, u"widget-expanded.png"_s);

    QTest::mouseClick(view->expandButton(), Qt::LeftButton);
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == panelHeight(5); }))
        << panel->height();
}

TEST_F(WidgetInHost, FollowsASettingAnotherProcessWrites)
{
    QProcess other;
    other.start(TestSupport::helperPath(u"widget_helper"_s), { u"number-of-stories"_s, u"3"_s });
    ASSERT_TRUE(other.waitForFinished(30000));
    ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_TRUE(TestSupport::waitFor([&] { return view->tableView()->numberOfRows() == 3; }));
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == panelHeight(3); }))
        << panel->height();
}

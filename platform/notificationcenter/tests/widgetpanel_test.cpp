#include "platform/notificationcenter/WidgetPanel.h"
#include "platform/notificationcenter/WidgetPluginLoader.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::WidgetHost;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// The fake widget asks for margins 4, 6, 2, 6 (top, left, bottom, right) and starts 100 high.
constexpr int top = 4, left = 6, bottom = 2, right = 6;

std::unique_ptr<WidgetPanel> fakePanel()
{
    LoadedWidget widget = LoadedWidget::load(QStringLiteral(FAKE_WIDGET_PLUGIN));
    EXPECT_TRUE(widget.ok()) << widget.error.toStdString();
    return std::make_unique<WidgetPanel>(std::move(widget.controller), widget.displayName);
}

int updates(const WidgetPanel& panel) { return panel.widgetView()->property("updates").toInt(); }

QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

} // namespace

TEST(WidgetPanel, ShowsTheViewAtTheRightEdgeOnTopOutOfTheTaskBarWithTheWidgetsMargins)
{
    auto panel = fakePanel();
    panel->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get(), TestSupport::waitBoundMs));

    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_TRUE(flags & Qt::FramelessWindowHint);
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);

    EXPECT_EQ(panel->widgetView()->property("proposedLeft").toDouble(), 8.0);
    EXPECT_EQ(panel->marginInsets(), (EdgeInsets { top, left, bottom, right }));
    EXPECT_EQ(panel->geometry(),
        QRect(available().right() + 1 - WidgetPanel::screenGap - WidgetPanel::panelWidth,
            available().top() + WidgetPanel::screenGap, WidgetPanel::panelWidth,
            WidgetPanel::titleHeight + top + 100 + bottom));
    const QPoint viewOrigin = panel->widgetView()->mapTo(panel.get(), QPoint(0, 0));
    EXPECT_EQ(viewOrigin, QPoint(left, WidgetPanel::titleHeight + top));
    EXPECT_EQ(panel->widgetView()->size(), QSize(WidgetPanel::panelWidth - left - right, 100));
    EXPECT_EQ(updates(*panel), 1);
    EXPECT_EQ(panel->completedUpdates(), 1);

    QDir().mkpath(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    panel->grab().save(QStringLiteral(TICKERLY_SCREENSHOT_DIR) + u"/widgethost-fake.png"_s);
}

TEST(WidgetPanel, FollowsTheViewsHeightAndScrollsWhatTheScreenCannotHold)
{
    auto panel = fakePanel();
    panel->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get(), TestSupport::waitBoundMs));
    auto* more = panel->widgetView()->findChild<QPushButton*>(u"more"_s);
    ASSERT_NE(more, nullptr);

    QTest::mouseClick(more, Qt::LeftButton);
    const int chrome = WidgetPanel::titleHeight + top + bottom;
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == chrome + 177; }))
        << panel->height();
    EXPECT_EQ(panel->widgetView()->height(), 177);
    EXPECT_EQ(panel->y(), available().top() + WidgetPanel::screenGap);

    const int room = available().height() - 2 * WidgetPanel::screenGap;
    for (int press = 0; press < available().height() / 77 + 1; ++press)
        QTest::mouseClick(more, Qt::LeftButton);
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->widgetView()->height() > room; }));
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() == room; })) << panel->height();
    auto* scrollArea = panel->findChild<QScrollArea*>();
    EXPECT_TRUE(scrollArea->verticalScrollBar()->isVisible());
    EXPECT_GT(scrollArea->verticalScrollBar()->maximum(), 0);

    const int presses = panel->widgetView()->height() / 77 - 1;
    auto* fewer = panel->widgetView()->findChild<QPushButton*>(u"fewer"_s);
    for (int press = 0; press < presses; ++press)
        QTest::mouseClick(fewer, Qt::LeftButton);
    EXPECT_TRUE(TestSupport::waitFor([&] { return panel->height() < room; })) << panel->height();
    EXPECT_EQ(panel->height(), chrome + panel->widgetView()->height());
    EXPECT_FALSE(scrollArea->verticalScrollBar()->isVisible());
}

TEST(WidgetPanel, AsksForAnUpdateEachTimeItComesBackIntoViewAndAsksToQuitOnCtrlQ)
{
    auto panel = fakePanel();
    EXPECT_EQ(updates(*panel), 0);
    panel->Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel.get(), TestSupport::waitBoundMs));
    panel->Show();
    EXPECT_EQ(updates(*panel), 1);

    QTest::keyClick(panel.get(), Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(updates(*panel), 1);

    panel->Show();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(updates(*panel), 2);
    EXPECT_EQ(panel->completedUpdates(), 2);

    QSignalSpy quits(panel.get(), &WidgetPanel::quitRequested);
    QTest::keyClick(panel.get(), Qt::Key_Q);
    EXPECT_EQ(quits.count(), 0);
    QTest::keyClick(panel.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);
}

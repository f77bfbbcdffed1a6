#include "platform/appkit/TrackingArea.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Recorder : TrackingAreaOwner {
    QStringList events;
    void mouseEntered() override { events << QStringLiteral("entered"); }
    void mouseExited() override { events << QStringLiteral("exited"); }
};

void send(QWidget* view, QEvent::Type type, QPointF at = {})
{
    if (type == QEvent::Enter) {
        QEnterEvent event(at, at, view->mapToGlobal(at));
        QApplication::sendEvent(view, &event);
    } else if (type == QEvent::MouseMove) {
        QMouseEvent event(type, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
        QApplication::sendEvent(view, &event);
    } else {
        QEvent event(type);
        QApplication::sendEvent(view, &event);
    }
}

bool activate(QWidget* window)
{
    window->activateWindow();
    return testsupport::waitFor([&] { return window->isActiveWindow(); }, 5000);
}

} // namespace

TEST(TrackingArea, ReportsCrossingsOfItsRectangleOnce)
{
    QWidget view;
    view.resize(100, 100);
    view.show();
    ASSERT_TRUE(activate(&view));
    Recorder owner;
    auto area = std::make_shared<TrackingArea>(
        QRectF(10, 10, 20, 20), TrackingArea::MouseEnteredAndExited, &owner);
    appkit::addTrackingArea(&view, area);
    EXPECT_TRUE(view.hasMouseTracking());

    send(&view, QEvent::Enter, QPointF(5, 5));
    send(&view, QEvent::MouseMove, QPointF(15, 15));
    send(&view, QEvent::MouseMove, QPointF(20, 20));
    send(&view, QEvent::MouseMove, QPointF(50, 50));
    send(&view, QEvent::MouseMove, QPointF(15, 15));
    send(&view, QEvent::Leave);
    EXPECT_EQ(owner.events, (QStringList { u"entered"_s, u"exited"_s, u"entered"_s, u"exited"_s }));

    // A new area under the pointer starts inside without a word, and tells of its exit.
    owner.events.clear();
    send(&view, QEvent::Enter, QPointF(60, 60));
    auto second = std::make_shared<TrackingArea>(
        QRectF(50, 50, 20, 20), TrackingArea::MouseEnteredAndExited, &owner);
    appkit::addTrackingArea(&view, second);
    EXPECT_TRUE(second->isInside());
    EXPECT_TRUE(owner.events.isEmpty());
    appkit::removeTrackingArea(&view, area);
    EXPECT_EQ(appkit::trackingAreas(&view), QList<TrackingAreaRef> { second });
    send(&view, QEvent::MouseMove, QPointF(15, 15));
    EXPECT_EQ(owner.events, QStringList { u"exited"_s });

    // Without the entered-and-exited option it keeps count but tells nobody.
    owner.events.clear();
    auto silent = std::make_shared<TrackingArea>(QRectF(0, 0, 100, 100), 0u, &owner);
    appkit::addTrackingArea(&view, silent);
    send(&view, QEvent::Leave);
    EXPECT_FALSE(silent->isInside());
    EXPECT_TRUE(owner.events.isEmpty());
}

TEST(TrackingArea, SeesThePointerOnlyInTheActiveWindowWhenAskedTo)
{
    QWidget view;
    view.resize(100, 100);
    view.show();
    QWidget other;
    other.resize(40, 40);
    other.show();
    ASSERT_TRUE(activate(&other));

    Recorder keyOnly;
    Recorder always;
    appkit::addTrackingArea(&view,
        std::make_shared<TrackingArea>(QRectF(0, 0, 100, 100),
            TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow, &keyOnly));
    appkit::addTrackingArea(&view,
        std::make_shared<TrackingArea>(
            QRectF(0, 0, 100, 100), TrackingArea::MouseEnteredAndExited, &always));
    // Start from a pointer outside, wherever the platform's cursor is.
    send(&view, QEvent::Leave);
    always.events.clear();
    send(&view, QEvent::Enter, QPointF(50, 50));
    EXPECT_TRUE(keyOnly.events.isEmpty());
    EXPECT_EQ(always.events, QStringList { u"entered"_s });

    ASSERT_TRUE(activate(&view));
    EXPECT_EQ(keyOnly.events, QStringList { u"entered"_s });
    ASSERT_TRUE(activate(&other));
    EXPECT_EQ(keyOnly.events, (QStringList { u"entered"_s, u"exited"_s }));
    EXPECT_EQ(always.events, QStringList { u"entered"_s });
}

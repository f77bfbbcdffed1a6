#include "platform/appkit/TrackingArea.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

struct Recorder : TrackingAreaOwner {
    QStringList events;
    void mouseEntered() override { events << u"entered"_s; }
    void mouseExited() override { events << u"exited"_s; }
};

void moveTo(QWidget* view, QPointF at)
{
    QMouseEvent event(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(view, &event);
}

bool activate(QWidget* window)
{
    window->activateWindow();
    return TestSupport::waitFor([&] { return window->isActiveWindow(); });
}

} // namespace

TEST(TrackingArea, ReportsEachCrossingOfItsRectangleOnlyWhereItIsActive)
{
    QWidget view;
    view.resize(100, 100);
    view.show();
    QWidget other;
    other.show();
    ASSERT_TRUE(activate(&view));
    Recorder owner;
    Recorder keyOnly;
    AppKit::addTrackingArea(&view,
        std::make_shared<TrackingArea>(
            QRectF(10, 10, 20, 20), TrackingArea::MouseEnteredAndExited, &owner));
    AppKit::addTrackingArea(&view,
        std::make_shared<TrackingArea>(QRectF(50, 50, 20, 20),
            TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow, &keyOnly));
    EXPECT_TRUE(view.hasMouseTracking());

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), view.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&view, &enter);
    for (QPointF at : { QPointF(15, 15), QPointF(20, 20), QPointF(60, 60), QPointF(15, 15) })
        moveTo(&view, at);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&view, &leave);
    EXPECT_EQ(owner.events, (QStringList { u"entered"_s, u"exited"_s, u"entered"_s, u"exited"_s }));
    EXPECT_EQ(keyOnly.events, (QStringList { u"entered"_s, u"exited"_s }));

    // In an inactive window only the plain area sees the pointer; a new area under it starts
    // inside without a word.
    owner.events.clear();
    keyOnly.events.clear();
    ASSERT_TRUE(activate(&other));
    moveTo(&view, QPointF(60, 60));
    moveTo(&view, QPointF(15, 15));
    EXPECT_TRUE(keyOnly.events.isEmpty());
    EXPECT_EQ(owner.events, QStringList { u"entered"_s });
    auto late = std::make_shared<TrackingArea>(
        QRectF(0, 0, 50, 50), TrackingArea::MouseEnteredAndExited, &owner);
    AppKit::addTrackingArea(&view, late);
    EXPECT_TRUE(late->isInside());
    EXPECT_EQ(owner.events, QStringList { u"entered"_s });
    AppKit::removeTrackingArea(&view, late);
    EXPECT_EQ(AppKit::trackingAreas(&view).size(), 2);
}

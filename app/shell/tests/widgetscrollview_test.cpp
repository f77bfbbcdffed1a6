#include "app/shell/Spinner.h"
#include "app/shell/WidgetScrollView.h"
#include "app/shell/tests/ScrollTesting.h"

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace ScrollTesting;

namespace {

// A document of a fixed height.
class Document : public QWidget {
public:
    explicit Document(int height)
        : m_height(height)
    {
    }
    QSize sizeHint() const override { return QSize(300, m_height); }

private:
    int m_height;
};

class RecordingDelegate : public QObject, public WidgetScrollViewDelegate {
public:
    void wantsRefresh(WidgetScrollView* scrollView) override
    {
        ++calls;
        if (onRefresh)
            onRefresh(scrollView);
    }
    int calls = 0;
    std::function<void(WidgetScrollView*)> onRefresh;
};

class WidgetScrollViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        MainQueue::setClock(&clock);
        ScrollView::setEndsGesturesAfterQuietTime(false);
        window.resize(300, 400);
        scrollView = new WidgetScrollView(&window);
        clip = new WidgetClipView;
        scrollView->setContentView(clip);
        document = new Document(1000);
        scrollView->setDocumentView(document);
        scrollView->awakeFromNib();
        scrollView->setGeometry(0, 0, 300, 400);
        scrollView->setDelegate(&delegate);
        window.show();
        TestSupport::processEvents();
    }

    void TearDown() override
    {
        clock.advance(10);
        MainQueue::setClock(nullptr);
    }

    // A touchpad gesture that has brought the list to `y`, then ends there.
    void pullTo(double y, bool end = true)
    {
        touchpad(scrollView, QPoint(), Qt::ScrollBegin);
        clip->setBoundsOrigin(QPointF(0, y));
        touchpad(scrollView, QPoint(), Qt::ScrollUpdate);
        if (end)
            touchpad(scrollView, QPoint(), Qt::ScrollEnd);
    }

    std::optional<QImage> spinnerImage() const
    {
        return scrollView->refreshView()->spinner()->image();
    }
    static QImage frame(int n) { return imageNamed(Spinner::frameName(n)); }

    VirtualClock clock;
    QWidget window;
    WidgetScrollView* scrollView = nullptr;
    WidgetClipView* clip = nullptr;
    Document* document = nullptr;
    RecordingDelegate delegate;
};

TEST_F(WidgetScrollViewTest, RestsBelowTheHiddenStripWithTheRefreshViewInIt)
{
    EXPECT_EQ(originY(clip), 76);
    EXPECT_EQ(clip->documentRect(), QRectF(0, 76, 300, 924));
    EXPECT_EQ(clip->documentRectFrom(QRectF(0, 10, 300, 1000)), QRectF(0, 76, 300, 924));
    clip->setShowsTop(true);
    EXPECT_EQ(clip->documentRect(), QRectF(0, 0, 300, 1000));
    EXPECT_EQ(clip->documentRectFrom(QRectF(0, 10, 300, 1000)), QRectF(0, 0, 300, 1000));
    clip->setShowsTop(false);

    // The strip lies 20 below the document's top, 75 high, as wide as the list, also after a
    // resize; the spinner is 50 x 50 in its middle.
    RefreshView* strip = scrollView->refreshView();
    EXPECT_EQ(strip->geometry(), QRect(0, 20, 300, 75));
    scrollView->resize(360, 400);
    ASSERT_TRUE(TestSupport::waitFor([&] { return strip->width() == 360; }));
    EXPECT_EQ(strip->geometry(), QRect(0, 20, 360, 75));
    EXPECT_EQ(strip->spinner()->geometry(), QRect(155, 13, 50, 50));
}

TEST_F(WidgetScrollViewTest, StartsARefreshFromAPullOf31ButNot30)
{
    pullTo(47);
    EXPECT_EQ(delegate.calls, 0);
    EXPECT_FALSE(scrollView->refreshing());
    EXPECT_EQ(spinnerImage(), frame(90));
    clock.advance(1);
    EXPECT_EQ(originY(clip), 76);

    pullTo(46);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_TRUE(scrollView->refreshing());
    EXPECT_TRUE(scrollView->refreshView()->refreshing());
    EXPECT_TRUE(clip->showsTop());
    EXPECT_EQ(scrollView->refreshView()->spinner()->sequenceName(), u"spinner"_s);
    // The open strip is reachable: the list stays where it was let go.
    clock.advance(1);
    EXPECT_EQ(originY(clip), 46);

    // While refreshing, a further pull neither asks again nor stops the loop.
    pullTo(-40);
    touchpad(scrollView, QPoint(0, -5), Qt::NoScrollPhase);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_EQ(scrollView->refreshView()->spinner()->sequenceName(), u"spinner"_s);
    clock.advance(1);
    EXPECT_EQ(originY(clip), 0);

    scrollView->finishRefresh();
    EXPECT_FALSE(scrollView->refreshing());
    EXPECT_FALSE(clip->showsTop());
    clock.advance(0.15);
    EXPECT_GT(originY(clip), 0);
    EXPECT_LT(originY(clip), 76);
    clock.advance(0.2);
    EXPECT_EQ(originY(clip), 76);
    EXPECT_EQ(spinnerImage(), frame(0));
}

TEST_F(WidgetScrollViewTest, MapsThePullToSpinnerFramesWithoutALowerBound)
{
    struct Case {
        double origin;
        std::optional<int> frame;
    };
    touchpad(scrollView, QPoint(), Qt::ScrollBegin);
    for (const Case& c : { Case { 76, 3 }, Case { 67, 30 }, Case { 35, 126 }, Case { 34.5, 127 },
             Case { -200, 127 }, Case { 76.9, 3 }, Case { 77, 0 }, Case { 100, std::nullopt } }) {
        SCOPED_TRACE(c.origin);
        clip->setBoundsOrigin(QPointF(0, c.origin));
        touchpad(scrollView, QPoint(), Qt::ScrollUpdate);
        if (c.frame)
            EXPECT_EQ(spinnerImage(), frame(*c.frame));
        else
            EXPECT_FALSE(spinnerImage()); // 100 gives frame -69
    }
    touchpad(scrollView, QPoint(), Qt::ScrollEnd);
    EXPECT_EQ(WidgetScrollView::pullDistance(100), -23);
    EXPECT_EQ(WidgetScrollView::frameForPull(-23), -69);
    EXPECT_EQ(delegate.calls, 0);
}

TEST_F(WidgetScrollViewTest, WheelEventsWithoutPhaseAndMomentumEventsNeverTrigger)
{
    // An ordinary wheel moves in steps and stops at the top.
    wheel(scrollView, -2);
    EXPECT_EQ(originY(clip), 76 + 2 * ScrollView::wheelStep());
    wheel(scrollView, 10);
    EXPECT_EQ(originY(clip), 76);
    EXPECT_EQ(spinnerImage(), frame(3));

    // Even pulled far past the top by a gesture, a phaseless event is no end.
    pullTo(-50, false);
    wheel(scrollView, 1);
    clock.advance(1);
    EXPECT_EQ(delegate.calls, 0);

    // A fling whose momentum carries the list past the top ends with the momentum's end.
    touchpad(scrollView, QPoint(0, 20), Qt::ScrollUpdate);
    touchpad(scrollView, QPoint(0, 40), Qt::ScrollMomentum);
    clip->setBoundsOrigin(QPointF(0, -10));
    touchpad(scrollView, QPoint(0, 0), Qt::ScrollMomentum);
    touchpad(scrollView, QPoint(), Qt::ScrollEnd);
    EXPECT_EQ(delegate.calls, 0);
    EXPECT_FALSE(scrollView->refreshing());
    clock.advance(1);
    EXPECT_EQ(originY(clip), 76);
}

TEST_F(WidgetScrollViewTest, APauseSpringsAPhaselessPullBackWithoutARefresh)
{
    // As under X11: a wheel's notches are elastic past the top and end after a pause.
    ScrollView::setEndsGesturesAfterQuietTime(true);
    wheel(scrollView, 1);
    const double afterOne = originY(clip);
    EXPECT_LT(afterOne, 76);
    EXPECT_GT(afterOne, 76 - ScrollView::wheelStep());
    wheel(scrollView, 1);
    EXPECT_LT(76 - originY(clip), 2 * (76 - afterOne));
    wheel(scrollView, 1);
    ASSERT_LE(originY(clip), 46); // pulled past the threshold

    clock.advance(ScrollView::quietTime() * 0.9);
    wheel(scrollView, 0); // a late event keeps the gesture going
    clock.advance(ScrollView::quietTime() * 0.9);
    EXPECT_LT(originY(clip), 76);
    clock.advance(1);
    EXPECT_EQ(delegate.calls, 0);
    EXPECT_FALSE(scrollView->refreshing());
    EXPECT_EQ(originY(clip), 76);
    ScrollView::setEndsGesturesAfterQuietTime(false);
}

TEST_F(WidgetScrollViewTest, APhasedPixelScrollPastTheThresholdRefreshesWithOrWithoutQuietEnds)
{
    for (const bool quietEnds : { false, true }) {
        SCOPED_TRACE(quietEnds);
        ScrollView::setEndsGesturesAfterQuietTime(quietEnds);
        const int before = delegate.calls;
        touchpad(scrollView, QPoint(), Qt::ScrollBegin);
        for (int i = 0; i < 8; ++i)
            touchpad(scrollView, QPoint(0, 10), Qt::ScrollUpdate);
        EXPECT_GE(WidgetScrollView::pullDistance(originY(clip)), 31);
        clock.advance(1); // a pause in the middle of a gesture ends nothing
        EXPECT_EQ(delegate.calls, before);
        touchpad(scrollView, QPoint(), Qt::ScrollEnd);
        EXPECT_EQ(delegate.calls, before + 1);
        EXPECT_TRUE(scrollView->refreshing());
        scrollView->finishRefresh();
        clock.advance(1);
        EXPECT_EQ(originY(clip), 76);
    }
    ScrollView::setEndsGesturesAfterQuietTime(false);
}

TEST_F(WidgetScrollViewTest, ADelegateThatFinishesAtOnceLeavesThePullsFrame)
{
    delegate.onRefresh = [](WidgetScrollView* s) { s->finishRefresh(); };
    pullTo(40);
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_FALSE(scrollView->refreshing());
    EXPECT_FALSE(clip->showsTop());
    EXPECT_EQ(spinnerImage(), frame(111)); // pull 37
    clock.advance(1);
    EXPECT_EQ(originY(clip), 76);

    // Scrolled down into the list, finishing brings it back to its top.
    wheel(scrollView, -5);
    EXPECT_GT(originY(clip), 76);
    scrollView->finishRefresh();
    clock.advance(1);
    EXPECT_EQ(originY(clip), 76);
    EXPECT_EQ(spinnerImage(), frame(0));

    // Without a delegate a pull still opens the strip, and nothing closes it.
    scrollView->setDelegate(nullptr);
    pullTo(0);
    clock.advance(60);
    EXPECT_TRUE(scrollView->refreshing());
}

TEST_F(WidgetScrollViewTest, ATouchpadPullMeetsResistanceAndSpringsBack)
{
    touchpad(scrollView, QPoint(), Qt::ScrollBegin);
    for (int i = 0; i < 4; ++i)
        touchpad(scrollView, QPoint(0, 5), Qt::ScrollUpdate);
    EXPECT_LT(originY(clip), 76);
    EXPECT_GT(originY(clip), 56);
    touchpad(scrollView, QPoint(), Qt::ScrollEnd);
    EXPECT_EQ(delegate.calls, 0);
    clock.advance(0.1);
    EXPECT_LT(originY(clip), 76);
    clock.advance(0.2);
    EXPECT_EQ(originY(clip), 76);
}

} // namespace

#include "app/shell/Button.h"

#include "app/shell/tests/ControlTesting.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace controltesting;

namespace {

struct Counter {
    int sent = 0;
    void attach(Control* control)
    {
        QObject::connect(control, &Control::action, control, [this](Control*) { ++sent; });
    }
};

} // namespace

TEST(Button, FollowsThePointerAndSendsOnEveryRelease)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    Counter counter;
    counter.attach(button);
    ASSERT_EQ(button->state(), Button::State::normal);

    enter(button, QPointF(60, 16));
    EXPECT_EQ(button->state(), Button::State::hover);
    press(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::pressed);
    EXPECT_EQ(counter.sent, 0);
    release(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::hover);
    EXPECT_EQ(counter.sent, 1);
    leave(button);
    EXPECT_EQ(button->state(), Button::State::normal);

    // Dragged off: the shade drops back, yet the release still sends and shows hover.
    enter(button, QPointF(60, 16));
    press(button, QPoint(60, 16));
    move(button, QPointF(200, 16), Qt::LeftButton);
    EXPECT_EQ(button->state(), Button::State::normal);
    release(button, QPoint(200, 16));
    EXPECT_EQ(counter.sent, 2);
    EXPECT_EQ(button->state(), Button::State::hover);

    // A release with no press before it sends too; other buttons do nothing.
    release(button, QPoint(60, 16));
    EXPECT_EQ(counter.sent, 3);
    QTest::mouseClick(button, Qt::RightButton, {}, QPoint(60, 16));
    EXPECT_EQ(counter.sent, 3);
}

TEST(Button, ShowsNoHoverWhileItsWindowIsNotActive)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    QWidget other;
    other.resize(50, 50);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return other.isActiveWindow(); }, 5000));

    Counter counter;
    counter.attach(button);
    enter(button, QPointF(60, 16));
    EXPECT_EQ(button->state(), Button::State::normal);

    // The window becoming active with the pointer inside shows hover; losing it drops it.
    host->activateWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return host->isActiveWindow(); }, 5000));
    EXPECT_EQ(button->state(), Button::State::hover);
    other.activateWindow();
    ASSERT_TRUE(testsupport::waitFor([&] { return other.isActiveWindow(); }, 5000));
    EXPECT_EQ(button->state(), Button::State::normal);

    // Pressing works in any window.
    press(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::pressed);
    release(button, QPoint(60, 16));
    EXPECT_EQ(counter.sent, 1);
}

TEST(Button, RebuildsItsTrackingAreaOverItsBoundsOnEveryLayout)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    const TrackingAreaRef first = button->trackingArea();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rect(), QRectF(0, 0, 120, 32));

    enter(button, QPointF(100, 16));
    button->resize(80, 40);
    const TrackingAreaRef second = button->trackingArea();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->rect(), QRectF(0, 0, 80, 40));
    EXPECT_EQ(appkit::trackingAreas(button), QList<TrackingAreaRef> { second });
    // The old area is gone without a word; the new one reports its own crossings.
    EXPECT_EQ(button->state(), Button::State::hover);
    move(button, QPointF(40, 20));
    move(button, QPointF(100, 20));
    EXPECT_EQ(button->state(), Button::State::normal);
    move(button, QPointF(40, 20));
    EXPECT_EQ(button->state(), Button::State::hover);
}

TEST(Button, TakesItsIntrinsicSizeFromTheBackgroundImageOnly)
{
    Button button;
    button.setTitle(u"A title that is not measured"_s);
    EXPECT_LT(button.sizeHint().width(), 0);
    EXPECT_LT(button.sizeHint().height(), 0);

    QImage image(QSize(80, 44), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    button.setBackgroundImage(image);
    EXPECT_EQ(button.sizeHint(), QSize(40, 22));
    button.setBackgroundImage(std::nullopt);
    EXPECT_LT(button.sizeHint().width(), 0);

    // Nobody connected: nothing is sent, nothing breaks.
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(button.state(), Button::State::hover);
}

TEST(Button, PaintsAGreyRoundedShadePerStateWithTheTitleAboveTheMiddle)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));

    // Empty title: only the fill, inset 2 with rounded corners.
    QImage image = render(button);
    EXPECT_EQ(at(image, 60, 16), QColor(77, 77, 77));
    EXPECT_EQ(at(image, 1, 16), QColor(Qt::white));
    EXPECT_EQ(at(image, 2, 2), QColor(Qt::white));
    EXPECT_EQ(whitePixels(image, QRectF(3, 3, 114, 26)), 0);

    button->setTitle(u"Done"_s);
    EXPECT_DOUBLE_EQ(button->titleRect().center().y(), 16.0 - 1.0);
    const struct {
        Button::State state;
        int grey;
        const char* name;
    } states[] = {
        { Button::State::normal, 77, "controls-button-normal" },
        { Button::State::hover, 102, "controls-button-hover" },
        { Button::State::pressed, 64, "controls-button-pressed" },
    };
    for (const auto& s : states) {
        button->setState(s.state);
        image = render(button);
        EXPECT_EQ(at(image, 6, 16), QColor(s.grey, s.grey, s.grey)) << s.name;
        EXPECT_GT(whitePixels(image, QRectF(40, 8, 40, 16)), 10) << s.name;
        saveScreenshot(render(button, 2.0), QString::fromLatin1(s.name));
    }
}

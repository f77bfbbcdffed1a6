#include "app/shell/Button.h"

#include "app/shell/tests/ControlTesting.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace ControlTesting;

TEST(Button, FollowsThePointerAndSendsOnEveryRelease)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    int sent = 0;
    QObject::connect(button, &Control::action, button, [&] { ++sent; });

    enter(button, QPointF(60, 16));
    EXPECT_EQ(button->state(), Button::State::hover);
    press(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::pressed);
    release(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::hover);
    EXPECT_EQ(sent, 1);
    leave(button);
    EXPECT_EQ(button->state(), Button::State::normal);

    // Dragged off: the shade drops back, yet the release still sends and shows hover.
    enter(button, QPointF(60, 16));
    press(button, QPoint(60, 16));
    move(button, QPointF(200, 16), Qt::LeftButton);
    EXPECT_EQ(button->state(), Button::State::normal);
    release(button, QPoint(200, 16));
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(button->state(), Button::State::hover);

    // Even a release without a press sends; other mouse buttons do nothing.
    release(button, QPoint(60, 16));
    QTest::mouseClick(button, Qt::RightButton, {}, QPoint(60, 16));
    EXPECT_EQ(sent, 3);
}

TEST(Button, ShowsHoverOnlyWhileItsWindowIsActive)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    QWidget other;
    other.show();
    ASSERT_TRUE(activate(&other));

    enter(button, QPointF(60, 16));
    EXPECT_EQ(button->state(), Button::State::normal);
    ASSERT_TRUE(activate(host.get()));
    EXPECT_EQ(button->state(), Button::State::hover);
    ASSERT_TRUE(activate(&other));
    EXPECT_EQ(button->state(), Button::State::normal);
    press(button, QPoint(60, 16));
    EXPECT_EQ(button->state(), Button::State::pressed);
}

TEST(Button, RebuildsItsTrackingAreaOverItsBoundsOnEveryLayout)
{
    auto* button = new Button;
    auto host = hostInActiveWindow(button, QRect(10, 10, 120, 32));
    const TrackingAreaRef first = button->trackingArea();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->rect(), QRectF(0, 0, 120, 32));

    button->resize(80, 40);
    const TrackingAreaRef second = button->trackingArea();
    EXPECT_NE(second, first);
    EXPECT_EQ(second->rect(), QRectF(0, 0, 80, 40));
    EXPECT_EQ(AppKit::trackingAreas(button), QList<TrackingAreaRef> { second });
    move(button, QPointF(40, 20));
    EXPECT_EQ(button->state(), Button::State::hover);
    move(button, QPointF(100, 20));
    EXPECT_EQ(button->state(), Button::State::normal);
}

TEST(Button, TakesItsIntrinsicSizeFromTheBackgroundImageOnly)
{
    Button button;
    button.setTitle(u"A title that is not measured"_s);
    EXPECT_EQ(button.sizeHint(), QSize(-1, -1));
    QImage image(QSize(80, 44), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    button.setBackgroundImage(image);
    EXPECT_EQ(button.sizeHint(), QSize(40, 22));
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
    const std::tuple<Button::State, int, QString> states[] = {
        { Button::State::normal, 77, u"controls-button-normal"_s },
        { Button::State::hover, 102, u"controls-button-hover"_s },
        { Button::State::pressed, 64, u"controls-button-pressed"_s },
    };
    for (const auto& [state, grey, name] : states) {
        button->setState(state);
        image = render(button, 2.0);
        EXPECT_EQ(at(image, 6, 16), QColor(grey, grey, grey)) << name.toStdString();
        EXPECT_GT(whitePixels(image, QRectF(40, 8, 40, 16)), 10) << name.toStdString();
        saveScreenshot(image, name);
    }
}

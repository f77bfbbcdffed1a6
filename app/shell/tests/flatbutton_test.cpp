#include "app/shell/FlatButton.h"

#include "app/shell/tests/ControlTesting.h"
#include "platform/appkit/ConstraintLayout.h"

#include <QFontMetricsF>
#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace ControlTesting;

namespace {

const QColor kRed = opaque(QColor::fromRgbF(0.8f, 0.04f, 0.06f));
const QColor kGreen = opaque(QColor::fromRgbF(0.1f, 0.67f, 0.13f));

QRectF shape(const FlatButton& button) { return button.background().path.boundingRect(); }

QColor titleColor(const FlatButton& button)
{
    return opaque(button.label()->palette().color(QPalette::WindowText));
}

} // namespace

TEST(FlatButton, InsetsItsShapeFromItsBoundsWithAFourteenPointMinimum)
{
    FlatButton fresh;
    EXPECT_EQ(shape(fresh), QRectF(2.5, 2.5, 10, 10));
    fresh.setPressed(true);
    EXPECT_EQ(shape(fresh), QRectF(2, 2, 10, 10));

    auto* button = new FlatButton;
    auto host = hostInActiveWindow(button, QRect(10, 10, 100, 30));
    EXPECT_EQ(shape(*button), QRectF(2.5, 2.5, 96, 26));
    button->setPressed(true);
    EXPECT_EQ(shape(*button), QRectF(2, 2, 96, 26));
    button->setPressed(false);
    const TrackingAreaRef area = button->trackingArea();
    button->resize(100, 8);
    EXPECT_EQ(shape(*button), QRectF(2.5, 2.5, 96, 10));
    EXPECT_NE(button->trackingArea(), area);
    EXPECT_EQ(button->trackingArea()->rect(), QRectF(0, 0, 100, 8));
}

TEST(FlatButton, SendsOnAReleaseOnItUnlessThePointerLeftWhileHeld)
{
    auto* button = new FlatButton;
    auto host = hostInActiveWindow(button, QRect(10, 10, 100, 30));
    int sent = 0;
    QObject::connect(button, &Control::action, host.get(), [&](Control* sender) {
        EXPECT_EQ(sender, button);
        ++sent;
    });

    enter(button, QPointF(50, 15));
    press(button, QPoint(50, 15));
    EXPECT_TRUE(button->pressed());
    release(button, QPoint(50, 15));
    EXPECT_EQ(sent, 1);
    EXPECT_FALSE(button->pressed());

    // Dragged off while held: cancelled, and coming back does not restore the press.
    press(button, QPoint(50, 15));
    move(button, QPointF(140, 15), Qt::LeftButton);
    EXPECT_FALSE(button->pressed());
    move(button, QPointF(50, 15), Qt::LeftButton);
    release(button, QPoint(50, 15));
    // A leave cancels too; a stray release sends nothing.
    press(button, QPoint(50, 15));
    leave(button);
    EXPECT_FALSE(button->pressed());
    release(button, QPoint(50, 15));
    release(button, QPoint(50, 15));
    EXPECT_EQ(sent, 1);

    // A target that deletes the button on its action (a removed row) is safe.
    QPointer<FlatButton> watch(button);
    QObject::connect(button, &Control::action, host.get(), [](Control* sender) { delete sender; });
    enter(button, QPointF(50, 15));
    press(button, QPoint(50, 15));
    release(button, QPoint(50, 15));
    EXPECT_TRUE(watch.isNull());
}

TEST(FlatButton, AsksForItsTitleWidthPlusTwentyByThirtyAndCentresTheTitle)
{
    auto* button = new FlatButton;
    const auto expected = [&] {
        const qreal text = QFontMetricsF(button->font()).horizontalAdvance(button->title());
        return QSize(int(std::ceil(text + 20)), 30);
    };
    button->setTitle(u"REMOVE"_s);
    EXPECT_EQ(button->sizeHint(), expected());
    button->setTitle(u"REMOVE THIS SOURCE"_s);
    EXPECT_EQ(button->sizeHint(), expected());
    EXPECT_EQ(AppKit::contentHuggingPriority(button, LayoutOrientation::Horizontal), 1000.0f);
    EXPECT_EQ(AppKit::contentHuggingPriority(button, LayoutOrientation::Vertical), 1000.0f);

    auto host = hostInActiveWindow(button, QRect(QPoint(10, 10), button->sizeHint()));
    AppKit::layoutSubtreeIfNeeded(button);
    const QRectF label = button->label()->geometry();
    EXPECT_NEAR(label.center().x(), button->width() / 2.0, 1.0);
    EXPECT_NEAR(label.center().y(), button->height() / 2.0 - 1.0, 0.5);
}

TEST(FlatButton, PaintsAnOutlineAtRestAndAFillWithAWhiteTitleWhilePressed)
{
    auto* button = new FlatButton;
    button->setTitle(u"REMOVE"_s);
    button->setColor(FlatButton::Color::red);
    auto host = hostInActiveWindow(button, QRect(10, 10, 100, 30));
    EXPECT_EQ(titleColor(*button), kRed);

    // At rest: a crisp one-point outline on pixel column 2, nothing inside.
    for (qreal scale : { 1.0, 2.0 }) {
        const QImage image = render(button, scale);
        EXPECT_EQ(at(image, 2, 15), kRed) << scale;
        EXPECT_EQ(at(image, 50, 2), kRed) << scale;
        EXPECT_EQ(at(image, 1, 15), QColor(Qt::white)) << scale;
        EXPECT_EQ(at(image, 3.5, 15), QColor(Qt::white)) << scale;
    }
    saveScreenshot(render(button, 2.0), u"controls-flatbutton-red-rest"_s);

    press(button, QPoint(50, 15));
    QImage image = render(button, 2.0);
    EXPECT_EQ(at(image, 2, 15), kRed);
    EXPECT_EQ(at(image, 6, 15), kRed);
    EXPECT_EQ(at(image, 1.5, 15), QColor(Qt::white));
    EXPECT_GT(whitePixels(image, QRectF(20, 8, 60, 14)), 20);
    saveScreenshot(image, u"controls-flatbutton-red-pressed"_s);

    // A new colour while held: the fill follows, the title stays white.
    button->setColor(FlatButton::Color::green);
    image = render(button, 2.0);
    EXPECT_EQ(at(image, 6, 15), kGreen);
    EXPECT_EQ(titleColor(*button), QColor(Qt::white));
    saveScreenshot(image, u"controls-flatbutton-green-pressed"_s);

    release(button, QPoint(50, 15));
    image = render(button, 2.0);
    EXPECT_EQ(at(image, 2, 15), kGreen);
    EXPECT_EQ(at(image, 6, 15), QColor(Qt::white));
    EXPECT_EQ(titleColor(*button), kGreen);
    saveScreenshot(image, u"controls-flatbutton-green-rest"_s);
}

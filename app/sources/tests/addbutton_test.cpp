#include "app/sources/AddButton.h"

#include "app/shell/tests/ControlTesting.h"

#include <QLabel>

#include <gtest/gtest.h>

using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace ControlTesting;

namespace {

const QColor kRed = opaque(QColor::fromRgbF(0.8f, 0.04f, 0.06f));
const QColor kGreen = opaque(QColor::fromRgbF(0.1f, 0.67f, 0.13f));

QColor titleColor(AddButton& button)
{
    return opaque(button.label()->palette().color(QPalette::WindowText));
}

} // namespace

TEST(AddButton, ShowsTilfoejInGreenOrFjernInRedAsItsOwnerSetsIt)
{
    AddButton button;
    QLabel* label = button.label();
    EXPECT_EQ(label->text(), u"Tilføj"_s);
    EXPECT_EQ(titleColor(button), kGreen);
    button.setAdded(true);
    EXPECT_EQ(label->text(), u"Fjern"_s);
    EXPECT_EQ(titleColor(button), kRed);
    button.setAdded(false);
    EXPECT_EQ(label->text(), u"Tilføj"_s);
    EXPECT_EQ(titleColor(button), kGreen);
    EXPECT_EQ(button.label(), label);
    EXPECT_EQ(button.findChildren<QLabel*>().size(), 1);
    EXPECT_EQ(button.sizeHint(), QSize(-1, -1));
}

TEST(AddButton, SendsOnceOnAReleaseThatFollowsAPressWhereverItIs)
{
    auto* button = new AddButton;
    button->awakeFromNib();
    auto host = hostInActiveWindow(button, QRect(10, 10, 64, 24));
    EXPECT_EQ(button->label()->geometry(), QRect(0, 0, 64, 22));
    int sent = 0;
    QObject::connect(button, &Control::action, host.get(), [&] { ++sent; });

    press(button, QPoint(30, 12));
    EXPECT_TRUE(button->pressed());
    EXPECT_EQ(titleColor(*button), QColor(Qt::white));
    // Neither a leave nor a move off cancels it.
    leave(button);
    move(button, QPointF(300, 12), Qt::LeftButton);
    release(button, QPoint(300, 12));
    EXPECT_EQ(sent, 1);
    EXPECT_FALSE(button->pressed());
    EXPECT_EQ(titleColor(*button), kGreen);
    EXPECT_FALSE(button->added());

    release(button, QPoint(30, 12));
    EXPECT_EQ(sent, 1);
}

TEST(AddButton, PaintsAnOutlineAtRestAndAFillWithAWhiteTitleWhilePressed)
{
    auto* button = new AddButton;
    auto host = hostInActiveWindow(button, QRect(10, 10, 64, 24));
    for (const bool added : { false, true }) {
        button->setAdded(added);
        const QColor color = added ? kRed : kGreen;
        const QString name = added ? u"controls-addbutton-red"_s : u"controls-addbutton-green"_s;
        // The outline's band runs from 0.5 to 1.5 points: whole device pixels at 2x.
        QImage image = render(button, 2.0);
        EXPECT_EQ(at(image, 0.5, 12), color) << added;
        EXPECT_EQ(at(image, 1.0, 12), color) << added;
        EXPECT_EQ(at(image, 0.0, 12), QColor(Qt::white)) << added;
        EXPECT_EQ(at(image, 4, 12), QColor(Qt::white)) << added;
        saveScreenshot(image, name + u"-rest"_s);

        press(button, QPoint(30, 12));
        image = render(button, 2.0);
        EXPECT_EQ(at(image, 4, 12), color) << added;
        EXPECT_GT(whitePixels(image, QRectF(12, 4, 40, 16)), 20) << added;
        saveScreenshot(image, name + u"-pressed"_s);
        release(button, QPoint(30, 12));
    }
}

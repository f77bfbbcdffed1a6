#include "app/sources/AddButton.h"

#include "app/shell/tests/ControlTesting.h"

#include <QLabel>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace controltesting;

namespace {

const QColor kRed = opaque(QColor::fromRgbF(0.8f, 0.04f, 0.06f));
const QColor kGreen = opaque(QColor::fromRgbF(0.1f, 0.67f, 0.13f));

QColor textColor(AddButton& button)
{
    return opaque(button.label()->palette().color(QPalette::WindowText));
}

} // namespace

TEST(AddButton, ShowsTilfoejInGreenOrFjernInRedAsItsOwnerSetsIt)
{
    AddButton button;
    QLabel* label = button.label();
    EXPECT_EQ(button.label(), label);
    EXPECT_EQ(button.findChildren<QLabel*>().size(), 1);
    EXPECT_EQ(label->text(), u"Tilføj"_s);
    EXPECT_EQ(textColor(button), kGreen);
    EXPECT_EQ(opaque(button.color()), kGreen);

    button.setAdded(true);
    EXPECT_EQ(label->text(), u"Fjern"_s);
    EXPECT_EQ(textColor(button), kRed);
    button.setAdded(false);
    EXPECT_EQ(label->text(), u"Tilføj"_s);
    EXPECT_EQ(textColor(button), kGreen);
    EXPECT_EQ(button.findChildren<QLabel*>().size(), 1);

    // Made already added, before its first layout: the label is red from the start.
    AddButton addedFirst;
    addedFirst.setAdded(true);
    EXPECT_EQ(addedFirst.label()->text(), u"Fjern"_s);
    EXPECT_EQ(textColor(addedFirst), kRed);
    EXPECT_LT(addedFirst.sizeHint().width(), 0);
}

TEST(AddButton, SendsOnceOnAReleaseThatFollowsAPressWhereverItIs)
{
    auto* button = new AddButton;
    button->awakeFromNib();
    auto host = hostInActiveWindow(button, QRect(10, 10, 64, 24));
    EXPECT_EQ(button->label()->geometry(), QRect(0, 0, 64, 22));
    int sent = 0;
    QObject::connect(button, &Control::action, host.get(), [&](Control*) { ++sent; });

    press(button, QPoint(30, 12));
    EXPECT_TRUE(button->pressed());
    EXPECT_EQ(textColor(*button), QColor(Qt::white));
    // Neither a leave nor a move off cancels it.
    leave(button);
    move(button, QPointF(300, 12), Qt::LeftButton);
    EXPECT_TRUE(button->pressed());
    release(button, QPoint(300, 12));
    EXPECT_EQ(sent, 1);
    EXPECT_FALSE(button->pressed());
    EXPECT_EQ(textColor(*button), kGreen);
    // A click never changes what it shows.
    EXPECT_FALSE(button->added());

    release(button, QPoint(30, 12));
    EXPECT_EQ(sent, 1);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(sent, 2);
}

TEST(AddButton, PaintsAnOutlineAtRestAndAFillWithAWhiteTitleWhilePressed)
{
    auto* button = new AddButton;
    auto host = hostInActiveWindow(button, QRect(10, 10, 64, 24));
    const struct {
        bool added;
        QColor color;
        const char* name;
    } looks[] = { { false, kGreen, "green" }, { true, kRed, "red" } };
    for (const auto& look : looks) {
        button->setAdded(look.added);
        // The outline's band runs from 0.5 to 1.5 points: whole device pixels at 2x.
        QImage image = render(button, 2.0);
        EXPECT_EQ(at(image, 0.5, 12), look.color) << look.name;
        EXPECT_EQ(at(image, 1.0, 12), look.color) << look.name;
        EXPECT_EQ(at(image, 0.0, 12), QColor(Qt::white)) << look.name;
        EXPECT_EQ(at(image, 4, 12), QColor(Qt::white)) << look.name;
        saveScreenshot(image, u"controls-addbutton-%1-rest"_s.arg(QLatin1StringView(look.name)));

        press(button, QPoint(30, 12));
        image = render(button, 2.0);
        EXPECT_EQ(at(image, 1.0, 12), look.color) << look.name;
        EXPECT_EQ(at(image, 4, 12), look.color) << look.name;
        EXPECT_GT(whitePixels(image, QRectF(12, 4, 40, 16)), 20) << look.name;
        saveScreenshot(image, u"controls-addbutton-%1-pressed"_s.arg(QLatin1StringView(look.name)));
        release(button, QPoint(30, 12));
    }
}

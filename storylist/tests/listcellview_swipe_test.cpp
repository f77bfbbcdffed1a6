#include "storylist/ListCellView.h"

#include "platform/appkit/PanGestureRecognizer.h"
#include "storylist/ImageButton.h"
#include "storylist/Label.h"
#include "storylist/RowStyle.h"
#include "storylist/tests/CellTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using CellTesting::rowData;

namespace {

class ListCellSwipe : public CellTesting::CellTest { };

} // namespace

TEST_F(ListCellSwipe, SettlesByTheThresholdsOnRelease)
{
    struct Case {
        qreal dx;
        double margin;
    };
    // Strictly past 100 dismisses, strictly past -200 opens (320 - 50 = 270 to the left).
    for (const Case& c :
        { Case { 100, 0 }, Case { 100.5, 320 }, Case { -200, 0 }, Case { -200.5, -270 } }) {
        SCOPED_TRACE(c.dx);
        cell->setObjectValue(QVariant::fromValue(rowData(u"First"_s)));
        settle();
        delegate.calls.clear();
        swipe(c.dx);
        EXPECT_EQ(cell->margin(), c.margin);
        EXPECT_EQ(cell->initialSlideValue(), c.margin);
        EXPECT_EQ(cell->optionsOpen(), c.margin == -270);
        EXPECT_EQ(-cell->optionsRightMargin()->constant(), c.margin);
        // The views follow over 0.3 s: half way after 0.15 s.
        clock.advance(0.15);
        EXPECT_NEAR(contentX(), c.margin / 2, 2);
        clock.advance(0.15);
        EXPECT_EQ(contentX(), int(c.margin));
        EXPECT_EQ(cell->optionsView->x(), 320 + int(c.margin));
        TestSupport::processEvents();
        EXPECT_EQ(
            delegate.calls, c.margin == 320 ? QStringList { u"deleted First"_s } : QStringList());
        // No click of the row came with any of the drags.
        EXPECT_FALSE(delegate.calls.contains(u"pressed"_s));
    }
}

TEST_F(ListCellSwipe, TurnsRedPastTheDismissThresholdAndClearsBelowIt)
{
    pointer.press({ 25, 40 });
    pointer.move({ 75, 40 });
    TestSupport::processEvents();
    EXPECT_EQ(contentX(), 50); // follows the pointer, no animation
    EXPECT_FALSE(cell->isRed());

    pointer.move({ 175, 40 });
    EXPECT_TRUE(cell->isRed());
    clock.advance(0.25);
    EXPECT_GT(cell->backgroundColor().alpha(), 90);
    EXPECT_LT(cell->backgroundColor().alpha(), 165);
    clock.advance(0.25);
    EXPECT_EQ(cell->backgroundColor(), RowStyle::dismissColor());
    // Further moves inside the zone start no new fade.
    pointer.move({ 200, 40 });
    EXPECT_EQ(cell->backgroundColor(), RowStyle::dismissColor());

    pointer.move({ 125, 40 }); // exactly 100: out of the zone
    EXPECT_FALSE(cell->isRed());
    clock.advance(0.5);
    EXPECT_EQ(cell->backgroundColor().alpha(), 0);
    pointer.release({ 125, 40 });
    settle();
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_TRUE(delegate.calls.isEmpty());
}

TEST_F(ListCellSwipe, ReportsADismissOnceAfterTheRowHasSlidOut)
{
    swipe(150);
    EXPECT_TRUE(cell->isRed());
    clock.advance(0.29);
    TestSupport::processEvents();
    EXPECT_TRUE(delegate.calls.isEmpty());
    clock.advance(0.01);
    TestSupport::processEvents();
    EXPECT_EQ(delegate.calls, QStringList { u"deleted First"_s });
    settle(2);
    EXPECT_EQ(delegate.calls.size(), 1);
    // It stays out until rebound.
    EXPECT_EQ(contentX(), 320);

    // Without a delegate the row slides out and nothing else happens.
    cell->setObjectValue(QVariant::fromValue(rowData(u"Second"_s)));
    cell->setDelegate(nullptr);
    swipe(150);
    settle();
    EXPECT_EQ(contentX(), 320);
    EXPECT_EQ(delegate.calls.size(), 1);
}

TEST_F(ListCellSwipe, DeletesNothingWhenTheCellIsReboundDuringTheSlideOut)
{
    swipe(150);
    clock.advance(0.1);
    // A refresh hands the cell another story while the swiped one slides out.
    cell->setObjectValue(QVariant::fromValue(rowData(u"Other"_s)));
    EXPECT_EQ(contentX(), 0);
    settle();
    EXPECT_TRUE(delegate.calls.isEmpty());
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_EQ(contentX(), 0);
    EXPECT_FALSE(cell->isRed());

    // Rebound to an empty row: nothing either.
    swipe(150);
    cell->setObjectValue(QVariant(0));
    settle();
    EXPECT_TRUE(delegate.calls.isEmpty());
}

TEST_F(ListCellSwipe, DismissesTheSwipedStoryWhenItIsReboundDuringTheSlideOut)
{
    swipe(150);
    clock.advance(0.1);
    const int slidSoFar = contentX();
    ASSERT_GT(slidSoFar, 0);
    // Its picture arrives: the same story, in a new model.
    cell->setObjectValue(QVariant::fromValue(rowData(u"First"_s)));
    TestSupport::processEvents();
    EXPECT_GE(contentX(), slidSoFar) << "it goes on sliding out";
    EXPECT_TRUE(cell->isRed());
    clock.advance(0.2);
    TestSupport::processEvents();
    EXPECT_EQ(delegate.calls, QStringList { u"deleted First"_s });
    EXPECT_EQ(contentX(), 320);

    // Bound again once out, it is at rest.
    cell->setObjectValue(QVariant::fromValue(rowData(u"First"_s)));
    EXPECT_EQ(contentX(), 0);
    EXPECT_FALSE(cell->isRed());
    settle();
    EXPECT_EQ(delegate.calls.size(), 1);
}

TEST_F(ListCellSwipe, APanOutlivesNoRebindingOfTheCell)
{
    // A refresh hands the cell another story while the pointer is still down: the rest of the
    // drag must not throw that story away, nor leave the row half-open.
    pointer.press({ 25, 40 });
    pointer.move({ 75, 40 });
    cell->setObjectValue(QVariant::fromValue(rowData(u"Other"_s)));
    pointer.move({ 200, 40 });
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_FALSE(cell->isRed());
    pointer.release({ 200, 40 });
    settle();
    EXPECT_TRUE(delegate.calls.isEmpty());
    EXPECT_EQ(contentX(), 0);

    pointer.press({ 300, 40 });
    pointer.move({ 250, 40 });
    cell->setObjectValue(QVariant::fromValue(rowData(u"Third"_s)));
    pointer.move({ 20, 40 });
    pointer.release({ 20, 40 });
    settle();
    EXPECT_FALSE(cell->optionsOpen());
    EXPECT_EQ(cell->initialSlideValue(), 0);

    // The same story bound again (its picture arrived) keeps the drag going.
    pointer.press({ 25, 40 });
    pointer.move({ 75, 40 });
    cell->setObjectValue(QVariant::fromValue(rowData(u"Third"_s)));
    pointer.move({ 200, 40 });
    EXPECT_EQ(cell->margin(), 175);
    pointer.release({ 200, 40 });
    settle();
    EXPECT_EQ(delegate.calls, QStringList { u"deleted Third"_s });
}

TEST_F(ListCellSwipe, PansFromTheOpenPosition)
{
    // The share button opens the row (the delegate hears nothing), a pan continues from there.
    cell->contentView->shareButton->click();
    settle();
    ASSERT_EQ(cell->margin(), -270);
    ASSERT_TRUE(cell->optionsOpen());

    swipe(60); // ends at -210: stays open
    EXPECT_EQ(cell->margin(), -270);
    settle();
    EXPECT_EQ(contentX(), -270);

    swipe(71); // ends at -199: back to rest
    EXPECT_EQ(cell->margin(), 0);
    settle();
    EXPECT_EQ(contentX(), 0);
    EXPECT_TRUE(delegate.calls.isEmpty());

    // The open position follows the cell's width.
    cell->setGeometry(0, 0, 300, 75);
    cell->setOptionsOpen(true);
    EXPECT_EQ(cell->margin(), -250);
    cell->contentView->shareButton->click();
    EXPECT_EQ(cell->margin(), 0);
}

TEST_F(ListCellSwipe, ACancelledPanReturnsToRestAndClearsTheRed)
{
    pointer.press({ 25, 40 });
    pointer.move({ 200, 40 });
    TestSupport::processEvents();
    clock.advance(0.5);
    ASSERT_TRUE(cell->isRed());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &escape);
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_EQ(cell->initialSlideValue(), 0);
    EXPECT_FALSE(cell->isRed());
    clock.advance(0.15);
    EXPECT_NEAR(contentX(), 175 / 2.0, 2);
    clock.advance(0.15);
    EXPECT_EQ(contentX(), 0);
    EXPECT_EQ(cell->backgroundColor().alpha(), 0);
    pointer.release({ 200, 40 });
    settle();
    EXPECT_TRUE(delegate.calls.isEmpty());

    // A cancel from the open position also ends at rest.
    cell->setOptionsOpen(true);
    settle();
    pointer.press({ 25, 40 });
    pointer.move({ 45, 40 });
    cell->panGestureRecognizer()->view()->hide();
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_EQ(cell->initialSlideValue(), 0);
}

TEST_F(ListCellSwipe, Screenshots)
{
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    QList<RowOption> options;
    for (const QString& name : { u"twitter"_s, u"facebook"_s, u"instapaper"_s, u"readability"_s })
        options.append({ name, RowStyle::drawnGlyph(name + u" icon"_s) });
    cell->optionsView->setupButtons(options);
    cell->contentView->titleLabel->setStringValue(
        u"Harbour bridge reopens after a year of repairs"_s);
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    auto save = [&](const QString& name) {
        settle();
        const QImage image = window.grab().toImage();
        EXPECT_TRUE(image.save(dir + u"/cell-"_s + name + u".png"_s));
        return image;
    };

    cell->setOptionsOpen(true);
    const QImage open = save(u"open"_s);
    // The strip's first button shows right of the 50 points of the row left in view.
    EXPECT_EQ(
        cell->optionsView->buttonIdentifiers().value(u"twitter"_s)->mapTo(&window, QPoint()).x(),
        50);

    cell->setOptionsOpen(false);
    settle();
    pointer.press({ 25, 40 });
    pointer.move({ 165, 40 });
    const QImage red = save(u"red"_s);
    EXPECT_EQ(red.pixelColor(QPoint(70, 40) * red.devicePixelRatio()), RowStyle::dismissColor());
    pointer.release({ 125, 40 });
}

TEST_F(ListCellSwipe, DragsInsideTheRowsMenuAreTheMenusOwn)
{
    // The share menu is the row's child but a window of its own: choosing an item with the
    // button held must neither slide the row nor throw its story away.
    auto* menu = new QMenu(cell);
    menu->addAction(u"Copy link"_s);
    menu->addAction(u"Email"_s);
    menu->popup(window.mapToGlobal(QPoint(40, 40)));
    const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent event(
            type, at, at, menu->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(menu, &event);
    };
    send(QEvent::MouseButtonPress, { 5, 5 }, Qt::LeftButton);
    for (qreal x : { 40.0, 120.0, 200.0 })
        send(QEvent::MouseMove, { x, 10 }, Qt::LeftButton);
    EXPECT_EQ(cell->margin(), 0);
    send(QEvent::MouseButtonRelease, { 200, 10 }, Qt::NoButton);
    settle();
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_FALSE(delegate.calls.contains(u"deleted First"_s));
    delete menu;

    // The row itself still pans.
    swipe(150);
    settle();
    EXPECT_EQ(delegate.calls, QStringList { u"deleted First"_s });
}

#include "storylist/ListCellView.h"

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ImageButton.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/tests/CellTestSupport.h"

#include <QAbstractButton>
#include <QDir>
#include <QPainter>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using CellTesting::rowData;

namespace {

class ListCell : public CellTesting::CellTest {
protected:
    bool buttonsHidden() const
    {
        return cell->contentView->closeButton->isHidden()
            && cell->contentView->shareButton->isHidden();
    }
    bool buttonsShown() const
    {
        return !cell->contentView->closeButton->isHidden()
            && !cell->contentView->shareButton->isHidden();
    }
};

} // namespace

TEST_F(ListCell, BindsTheModelAndDimsReadRows)
{
    EXPECT_EQ(cell->contentView->titleLabel->stringValue(), u"First"_s);
    EXPECT_EQ(cell->contentView->text->stringValue(), u"Body of First"_s);
    EXPECT_EQ(cell->contentView->icon->image()->size(), QSize(16, 16));
    EXPECT_EQ(cell->contentView->geometry(), QRect(0, 0, 320, 75));
    EXPECT_EQ(cell->optionsView->geometry(), QRect(320, 0, 320, 75));
    EXPECT_EQ(AppKit::opacity(cell->contentView), 1.0);

    cell->setObjectValue(QVariant::fromValue(rowData(u"Read"_s, true)));
    EXPECT_EQ(AppKit::opacity(cell->contentView), 0.5);
    cell->setObjectValue(QVariant::fromValue(rowData(u"Unread"_s)));
    EXPECT_EQ(AppKit::opacity(cell->contentView), 1.0);
    cell->setRead();
    EXPECT_EQ(AppKit::opacity(cell->contentView), 0.5);
    // The same model again binds again.
    cell->setObjectValue(cell->objectValue());
    EXPECT_EQ(AppKit::opacity(cell->contentView), 1.0);
}

TEST_F(ListCell, RebindsASlidOrRedCellAtRestAtOnce)
{
    cell->setOptionsOpen(true);
    cell->setIsRed(true);
    settle();
    ASSERT_EQ(contentX(), -270);
    cell->contentView->setSelected(true);

    cell->setObjectValue(QVariant::fromValue(rowData(u"Next"_s)));
    // No animation: at rest and clear before any time passes.
    EXPECT_EQ(cell->margin(), 0);
    EXPECT_EQ(cell->initialSlideValue(), 0);
    EXPECT_EQ(contentX(), 0);
    EXPECT_FALSE(cell->isRed());
    EXPECT_EQ(cell->backgroundColor().alpha(), 0);
    EXPECT_FALSE(cell->contentView->selected());
    // Freshly bound, the buttons show until the pointer next crosses the row.
    EXPECT_TRUE(buttonsShown());
}

TEST_F(ListCell, FollowsTheRowSettings)
{
    (void)Preferences().setWidgetImages(false);
    (void)Preferences().setWidgetButtons(false);
    cell->setObjectValue(QVariant::fromValue(rowData(u"Plain"_s)));
    settle();
    EXPECT_EQ(cell->contentView->imageWidth()->constant(), 0);
    EXPECT_EQ(cell->contentView->imageView->width(), 0);
    EXPECT_TRUE(buttonsHidden());
    cell->contentView->mouseEntered();
    EXPECT_TRUE(buttonsHidden());

    (void)Preferences().setWidgetImages(true);
    (void)Preferences().setWidgetButtons(true);
    cell->setObjectValue(QVariant::fromValue(rowData(u"Full"_s)));
    settle();
    EXPECT_EQ(cell->contentView->imageView->width(), 50);
    EXPECT_TRUE(buttonsShown());
    cell->contentView->mouseExited();
    EXPECT_TRUE(buttonsHidden());
    cell->setButtonsAlwaysVisible(true);
    EXPECT_TRUE(cell->contentView->buttonsAlwaysVisible());
    EXPECT_TRUE(buttonsShown());
}

TEST_F(ListCell, HidesForAValueThatIsNoRowAndStopsTracking)
{
    cell->setObjectValue(QVariant(0));
    EXPECT_TRUE(cell->isHidden());
    EXPECT_FALSE(cell->data());
    EXPECT_FALSE(cell->contentView->trackingEnabled());
    EXPECT_FALSE(cell->contentView->trackingArea());

    cell->setObjectValue(QVariant::fromValue(rowData(u"Back"_s)));
    EXPECT_FALSE(cell->isHidden());
    EXPECT_TRUE(cell->contentView->trackingEnabled());
    EXPECT_TRUE(cell->contentView->trackingArea());
}

TEST_F(ListCell, PassesClicksCloseRightClicksAndOptionsToItsDelegate)
{
    EXPECT_EQ(delegate.optionRequests, 1);
    EXPECT_EQ(cell->optionsView->buttonIdentifiers().keys(), (QStringList { u"one"_s, u"two"_s }));

    pointer.click({ 150, 50 });
    // The close button sits under the time, 10 points right of its centre.
    const QPoint close = cell->contentView->closeButton->geometry().center();
    pointer.click(close);
    // The row's right click hands on the very event it got.
    const QMouseEvent* sent = nullptr;
    pointer.press({ 150, 50 }, Qt::RightButton);
    struct Catch : QObject {
        const QMouseEvent** into;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::MouseButtonRelease)
                *into = static_cast<QMouseEvent*>(e);
            return false;
        }
    } catcher;
    catcher.into = &sent;
    cell->contentView->installEventFilter(&catcher);
    pointer.release({ 150, 50 }, Qt::RightButton);
    cell->contentView->removeEventFilter(&catcher);
    EXPECT_TRUE(sent && delegate.shareEvent == sent);

    cell->setOptionsOpen(true);
    settle();
    pointer.click(QPointF(50 + 64 + 32, 40)); // the second option
    EXPECT_EQ(delegate.calls,
        (QStringList { u"pressed"_s, u"deleted First"_s, u"share"_s, u"option two"_s }));
    EXPECT_TRUE(cell->optionsOpen()); // the list closes it, not the cell
}

TEST_F(ListCell, DropsEverythingWithoutADelegate)
{
    cell->setDelegate(nullptr);
    EXPECT_TRUE(cell->optionsView->buttonIdentifiers().isEmpty());
    cell->setDelegate(&delegate);
    EXPECT_EQ(delegate.optionRequests, 2);
    EXPECT_EQ(cell->optionsView->buttonIdentifiers().size(), 2);

    {
        // A delegate that goes away is forgotten.
        CellTesting::RecordingDelegate passing;
        cell->setDelegate(&passing);
    }
    pointer.click({ 150, 50 });
    pointer.click({ 150, 50 }, Qt::RightButton);
    cell->contentView->closeButton->click();
    cell->setOptionsOpen(true);
    settle();
    pointer.click({ 50 + 32, 40 });
    // Share still toggles the strip.
    cell->contentView->shareButton->click();
    EXPECT_FALSE(cell->optionsOpen());
    EXPECT_TRUE(delegate.calls.isEmpty());
}

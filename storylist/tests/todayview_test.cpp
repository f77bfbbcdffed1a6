#include "storylist/TodayView.h"

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/Label.h"
#include "testsupport/TestSupport.h"

#include <QPushButton>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

TEST(TodayView, ShowsNoNewsInPlaceOfTheButtonWhileEmpty)
{
    QWidget window;
    window.resize(320, 200);
    auto* view = new TodayView(&window);
    view->setGeometry(0, 0, 320, 200);
    auto* button = new QPushButton(u"Interface title"_s, view);
    view->setExpandButton(button);
    window.show();
    AppKit::layoutSubtreeIfNeeded(view);

    EXPECT_TRUE(view->emptyLabel->isHidden());
    EXPECT_EQ(button->text(), u"Interface title"_s); // the view's own setup came before the outlet
    EXPECT_EQ(view->emptyLabel->stringValue(), u"No news"_s);
    EXPECT_FALSE(view->emptyLabel->wraps());

    view->setIsEmpty(true);
    EXPECT_FALSE(view->emptyLabel->isHidden());
    EXPECT_TRUE(button->isHidden());
    AppKit::layoutSubtreeIfNeeded(view);
    EXPECT_NEAR(view->emptyLabel->geometry().center().x(), 160, 1);
    EXPECT_NEAR(view->emptyLabel->geometry().center().y(), 100, 1);
    view->setIsEmpty(false);
    EXPECT_TRUE(view->emptyLabel->isHidden());
    EXPECT_FALSE(button->isHidden());

    view->setExpanded(true);
    EXPECT_EQ(button->text(), u"Show less"_s);
    view->setExpanded(false);
    EXPECT_EQ(button->text(), u"Show more"_s);

    // A view narrower than the text keeps the label 20 points from each side.
    view->setGeometry(0, 0, 60, 200);
    view->setIsEmpty(true);
    AppKit::layoutSubtreeIfNeeded(view);
    EXPECT_EQ(view->emptyLabel->x(), 20);
    EXPECT_EQ(view->emptyLabel->width(), 20);
}

TEST(TodayView, SizesItselfToItsRowsThroughOneConstraint)
{
    TodayView view;
    EXPECT_FALSE(view.heightConstraint());
    view.updateHeight(0);
    const LayoutConstraintRef made = view.heightConstraint();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->constant(), 100);
    EXPECT_EQ(made->firstItem(), &view);
    EXPECT_FALSE(made->secondItem());
    for (const auto& [rows, height] :
        { std::pair { 1, 107 }, { 3, 261 }, { 5, 415 }, { 20, 1570 }, { -4, 100 } }) {
        view.updateHeight(rows);
        EXPECT_EQ(view.heightConstraint()->constant(), height) << rows;
    }
    EXPECT_EQ(view.heightConstraint(), made);
    EXPECT_EQ(AppKit::constraints(&view).count(made), 1);
}

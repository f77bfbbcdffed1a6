// The layouts the story list and the application's windows build with the kit, each checked
// for the geometry its views are meant to get. Views stand in with fixed content sizes so
// that the numbers do not depend on fonts.

#include "storylist/ViewKit.h"

#include "testsupport/TestSupport.h"

#include <QScrollArea>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

class Sized : public QWidget {
public:
    explicit Sized(QSize content = { -1, -1 }, QWidget* parent = nullptr)
        : QWidget(parent)
        , m_content(content)
    {
    }
    QSize sizeHint() const override { return m_content; }

private:
    QSize m_content;
};

using LA = LayoutAttribute;
constexpr auto Eq = LayoutRelation::Equal;

} // namespace

TEST(ViewKitLayouts, EmptyListLabelStaysCentredAndTwentyFromEachSide)
{
    QWidget view;
    view.resize(300, 100);
    auto* emptyLabel = new Sized({ 120, 24 });
    addSubviews(&view, emptyLabel);
    constraint(&view, emptyLabel, LA::CenterX, Eq, &view, LA::CenterX);
    constraint(&view, emptyLabel, LA::CenterY, Eq, &view, LA::CenterY);
    constraints(&view, std::nullopt, u"|-(>=20)-[emptyLabel]-(>=20)-|"_s,
        { { u"emptyLabel"_s, emptyLabel } });
    AppKit::layoutSubtreeIfNeeded(&view);
    EXPECT_EQ(emptyLabel->geometry(), QRect(90, 38, 120, 24));

    view.resize(100, 100);
    AppKit::layoutSubtreeIfNeeded(&view);
    EXPECT_EQ(emptyLabel->geometry(), QRect(20, 38, 60, 24));

    // The view's own height constraint sizes it by its rows.
    const auto height = constraint(&view, &view, LA::Height, Eq);
    height->setConstant(5 * 77 + 30);
    AppKit::layoutSubtreeIfNeeded(&view);
    EXPECT_EQ(view.height(), 415);
    EXPECT_EQ(emptyLabel->geometry(), QRect(20, 196, 60, 24));
}

TEST(ViewKitLayouts, StoryRowContentPlacesItsSevenViews)
{
    QWidget row;
    row.resize(320, 75);
    auto* title = new Sized({ 500, 30 });
    auto* text = new Sized({ 400, 60 });
    auto* image = new Sized;
    auto* time = new Sized({ 40, 14 });
    auto* icon = new Sized;
    auto* close = new Sized({ 16, 16 });
    auto* share = new Sized({ 16, 16 });
    const LayoutViews views { { u"title"_s, title }, { u"text"_s, text }, { u"image"_s, image },
        { u"time"_s, time }, { u"icon"_s, icon }, { u"close"_s, close }, { u"share"_s, share } };
    addSubviews(&row, views.values());
    AppKit::setContentCompressionResistancePriority(title, 1000, LayoutOrientation::Vertical);
    AppKit::setContentHuggingPriority(title, 1000, LayoutOrientation::Vertical);
    constraints(&row, u"|-2-[title][text]|"_s, std::nullopt, views);
    constraints(&row, u"|[image]|"_s, std::nullopt, views);
    constraints(&row, u"|-3-[icon]"_s, std::nullopt, views);
    constraints(&row, u"|-4-[time]"_s, std::nullopt, views);
    constraints(&row, std::nullopt, u"|[image]"_s, views);
    constraints(
        &row, std::nullopt, u"[image]-5-[icon(16)]-5-[title]-(>=0)-[time(45)]-2-|"_s, views);
    constraints(&row, std::nullopt, u"[image]-5-[text]-45-|"_s, views);
    const auto imageWidth
        = constraint(&row, image, LA::Width, Eq, nullptr, LA::NotAnAttribute, 1.0, 50);
    constraint(&row, icon, LA::Width, Eq, icon, LA::Height);
    constraint(&row, title, LA::Width, Eq, &row, LA::Width, 1.0, -130);
    constraints(&row, u"[time]-2-[close]-2-[share]"_s, std::nullopt, views);
    constraint(&row, close, LA::CenterX, Eq, time, LA::CenterX, 1.0, 10);
    constraint(&row, share, LA::CenterX, Eq, time, LA::CenterX, 1.0, 10);
    AppKit::layoutSubtreeIfNeeded(&row);

    EXPECT_EQ(image->geometry(), QRect(0, 0, 50, 75));
    EXPECT_EQ(icon->geometry(), QRect(55, 3, 16, 16));
    EXPECT_EQ(title->geometry(), QRect(76, 2, 190, 30));
    EXPECT_EQ(time->geometry(), QRect(273, 4, 45, 14));
    EXPECT_EQ(text->geometry(), QRect(55, 32, 220, 43));
    EXPECT_EQ(close->geometry(), QRect(298, 20, 16, 16));
    EXPECT_EQ(share->geometry(), QRect(298, 38, 16, 16));

    // Images off: the image column closes and the rest moves left.
    imageWidth->setConstant(0);
    AppKit::layoutSubtreeIfNeeded(&row);
    EXPECT_EQ(image->geometry(), QRect(0, 0, 0, 75));
    EXPECT_EQ(icon->x(), 5);
    EXPECT_EQ(title->x(), 26);
    EXPECT_EQ(text->geometry(), QRect(5, 32, 270, 43));
}

TEST(ViewKitLayouts, StoryRowCellSlidesItsContentAndOptionStripByTwoConstants)
{
    QWidget cell;
    cell.resize(320, 77);
    auto* content = new QWidget;
    auto* strip = new QWidget;
    addSubviews(&cell, content);
    const auto leftMargin = constraint(&cell, content, LA::Left, Eq, &cell, LA::Left);
    constraint(&cell, content, LA::Width, Eq, &cell, LA::Width);
    constraints(&cell, u"|[v(75)]"_s, std::nullopt, { { u"v"_s, content } });
    addSubviews(&cell, strip);
    const auto optionsRightMargin = constraint(&cell, &cell, LA::Right, Eq, strip, LA::Left);
    constraint(&cell, strip, LA::Width, Eq, &cell, LA::Width);
    constraints(&cell, u"|[v]|"_s, std::nullopt, { { u"v"_s, strip } });
    AppKit::layoutSubtreeIfNeeded(&cell);
    EXPECT_EQ(content->geometry(), QRect(0, 0, 320, 75));
    EXPECT_EQ(strip->geometry(), QRect(320, 0, 320, 77));

    // The open position leaves 50 points of the content visible.
    leftMargin->setConstant(-270);
    optionsRightMargin->setConstant(270);
    AppKit::layoutSubtreeIfNeeded(&cell);
    EXPECT_EQ(content->geometry(), QRect(-270, 0, 320, 75));
    EXPECT_EQ(strip->geometry(), QRect(50, 0, 320, 77));
}

TEST(ViewKitLayouts, OptionStripLinesUpItsButtons)
{
    QWidget strip;
    strip.resize(320, 77);
    QWidget* previous = nullptr;
    std::vector<QWidget*> buttons;
    for (int i = 0; i < 3; ++i) {
        auto* button = new Sized({ 30, 30 });
        addSubviews(&strip, button);
        constraints(&strip, u"|[button]|"_s, u"[button(64)]"_s, { { u"button"_s, button } });
        if (previous)
            constraints(&strip, std::nullopt, u"[after][button]"_s,
                { { u"button"_s, button }, { u"after"_s, previous } });
        else
            constraints(&strip, std::nullopt, u"|[button]"_s, { { u"button"_s, button } });
        previous = button;
        buttons.push_back(button);
    }
    AppKit::layoutSubtreeIfNeeded(&strip);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(buttons[i]->geometry(), QRect(64 * i, 0, 64, 77));
}

TEST(ViewKitLayouts, RefreshStripSitsInTheClipViewBelowItsTop)
{
    QScrollArea scroll;
    scroll.setFrameShape(QFrame::NoFrame);
    scroll.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll.resize(300, 400);
    scroll.show();
    auto* refresh = new QWidget(scroll.viewport());
    constraints(&scroll, u"|-20-[refresh(75)]"_s, u"|[refresh]|"_s, { { u"refresh"_s, refresh } });
    AppKit::layoutSubtreeIfNeeded(&scroll);
    EXPECT_EQ(refresh->geometry(), QRect(0, 20, scroll.viewport()->width(), 75));
    EXPECT_EQ(scroll.viewport()->width(), 300);
}

TEST(ViewKitLayouts, SourceRowPlacesIconTextsAndRemoveButton)
{
    QWidget row;
    row.resize(400, 60);
    auto* title = new Sized({ 300, 20 });
    auto* link = new Sized({ 350, 14 });
    auto* remove = new Sized({ 80, 30 });
    auto* icon = new Sized;
    auto* spinner = new Sized({ 16, 16 });
    auto* mask = new Sized;
    const LayoutViews views { { u"title"_s, title }, { u"link"_s, link }, { u"remove"_s, remove },
        { u"icon"_s, icon }, { u"spinner"_s, spinner } };
    addSubviews(&row, { title, link, remove, icon, spinner, mask });
    AppKit::setContentCompressionResistancePriority(link, 250, LayoutOrientation::Horizontal);
    AppKit::setContentCompressionResistancePriority(title, 250, LayoutOrientation::Horizontal);
    constraints(&row, u"|-10-[title(20)]-1-[link]"_s, std::nullopt, views);
    constraints(&row, u"|-5-[icon]-5-|"_s, std::nullopt, views);
    constraints(&row, std::nullopt, u"|-20-[icon]"_s, views);
    constraints(&row, std::nullopt, u"[icon]-10-[title]-10-[remove]"_s, views);
    constraints(&row, std::nullopt, u"[icon]-10-[link]-10-[remove]"_s, views);
    constraint(&row, icon, LA::CenterY, Eq, &row, LA::CenterY);
    constraint(&row, icon, LA::Width, Eq, icon, LA::Height);
    constraint(&row, spinner, LA::CenterX, Eq, icon, LA::CenterX);
    constraint(&row, spinner, LA::CenterY, Eq, icon, LA::CenterY);
    constraints(&row, std::nullopt, u"[remove]-20-|"_s, views);
    constraint(&row, remove, LA::CenterY, Eq, &row, LA::CenterY);
    for (LA edge : { LA::Leading, LA::Trailing, LA::Top, LA::Bottom })
        constraint(&row, mask, edge, Eq, icon, edge);
    AppKit::layoutSubtreeIfNeeded(&row);

    EXPECT_EQ(icon->geometry(), QRect(20, 5, 50, 50));
    EXPECT_EQ(mask->geometry(), icon->geometry());
    EXPECT_EQ(spinner->geometry(), QRect(37, 22, 16, 16));
    EXPECT_EQ(remove->geometry(), QRect(300, 15, 80, 30));
    EXPECT_EQ(title->geometry(), QRect(80, 10, 210, 20));
    EXPECT_EQ(link->geometry(), QRect(80, 31, 210, 14));
}

TEST(ViewKitLayouts, WelcomeScreenCentresItsChainedContent)
{
    QWidget container;
    container.resize(400, 600);
    auto* content = new QWidget;
    addSubviews(&container, content);
    constraint(&container, content, LA::CenterY, Eq, &container, LA::CenterY);
    constraints(&container, std::nullopt, u"|[view]|"_s, { { u"view"_s, content } });

    auto* image = new Sized;
    auto* title = new Sized({ 200, 30 });
    auto* text = new Sized({ 250, 40 });
    const LayoutViews views { { u"image"_s, image }, { u"title"_s, title }, { u"text"_s, text } };
    addSubviews(content, views.values());
    constraints(content, u"|[image(300)]-10-[title]-10-[text]|"_s, std::nullopt, views);
    constraint(content, image, LA::Width, Eq, image, LA::Height);
    for (QWidget* v : views)
        constraint(content, v, LA::CenterX, Eq, content, LA::CenterX);
    AppKit::layoutSubtreeIfNeeded(&container);

    EXPECT_EQ(content->geometry(), QRect(0, 105, 400, 390));
    EXPECT_EQ(image->geometry(), QRect(50, 0, 300, 300));
    EXPECT_EQ(title->geometry(), QRect(100, 310, 200, 30));
    EXPECT_EQ(text->geometry(), QRect(75, 350, 250, 40));
}

TEST(ViewKitLayouts, FlatButtonLabelSitsCentredOnePointHigh)
{
    QWidget button;
    button.resize(100, 30);
    auto* label = new Sized({ 60, 16 });
    addSubviews(&button, label);
    constraints(&button, u"|-(>=0)-[label]-(>=0)-|"_s, u"|-(>=0)-[label]-(>=0)-|"_s,
        { { u"label"_s, label } });
    constraint(&button, label, LA::CenterX, Eq, &button, LA::CenterX);
    constraint(&button, label, LA::CenterY, Eq, &button, LA::CenterY, 1.0, -1.0);
    AppKit::layoutSubtreeIfNeeded(&button);
    EXPECT_EQ(label->geometry(), QRect(20, 6, 60, 16));
}

TEST(ViewKitLayouts, ErrorBannerSpansTheWidthAndHidesAboveTheTop)
{
    QWidget view;
    view.resize(300, 200);
    auto* error = new Sized({ 100, 14 });
    addSubviews(&view, error);
    constraints(&view, u"[error(20)]"_s, u"|[error]|"_s, { { u"error"_s, error } });
    const auto top = constraint(&view, error, LA::Top, Eq, &view, LA::Top);
    top->setConstant(-30);
    AppKit::layoutSubtreeIfNeeded(&view);
    EXPECT_EQ(error->geometry(), QRect(0, -30, 300, 20));
    top->setConstant(0);
    AppKit::layoutSubtreeIfNeeded(&view);
    EXPECT_EQ(error->geometry(), QRect(0, 0, 300, 20));
}

#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/VisualFormat.h"

#include "testsupport/TestSupport.h"

#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// A view whose content asks for a fixed size.
class Content : public QWidget {
public:
    explicit Content(QWidget* parent, QSize size = { -1, -1 })
        : QWidget(parent)
        , m_size(size)
    {
        AppKit::setTranslatesAutoresizingMaskIntoConstraints(this, false);
    }
    QSize sizeHint() const override { return m_size; }
    void setContentSize(QSize s)
    {
        m_size = s;
        AppKit::invalidateIntrinsicContentSize(this);
    }

private:
    QSize m_size;
};

void install(QWidget* holder, const QString& format, const LayoutViews& views)
{
    const VisualFormatResult r = constraintsWithVisualFormat(format, views);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    AppKit::addConstraints(holder, r.constraints);
}

LayoutConstraintRef pin(QWidget* holder, QWidget* item, LayoutAttribute a, double constant)
{
    auto c = LayoutConstraint::create(
        item, a, LayoutRelation::Equal, nullptr, LayoutAttribute::NotAnAttribute, 1.0, constant);
    AppKit::addConstraint(holder, c);
    return c;
}

} // namespace

TEST(ConstraintLayout, SharesSpaceByHuggingAndCompressionResistance)
{
    QWidget root;
    root.resize(100, 40);
    auto* a = new Content(&root, { 80, 20 });
    auto* b = new Content(&root, { 60, 20 });
    install(&root, u"H:|[a][b]|"_s, { { u"a"_s, a }, { u"b"_s, b } });
    install(&root, u"V:|[a]"_s, { { u"a"_s, a } });
    install(&root, u"V:|[b]"_s, { { u"b"_s, b } });
    AppKit::setContentCompressionResistancePriority(b, 250, LayoutOrientation::Horizontal);
    AppKit::layoutSubtreeIfNeeded(&root);
    // Too narrow: the view that resists less gives way; heights are the content's.
    EXPECT_EQ(a->geometry(), QRect(0, 0, 80, 20));
    EXPECT_EQ(b->geometry(), QRect(80, 0, 20, 20));

    // Too wide: the view that hugs less grows.
    root.resize(200, 40);
    AppKit::setContentHuggingPriority(a, 200, LayoutOrientation::Horizontal);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(a->width(), 140);
    EXPECT_EQ(b->geometry(), QRect(140, 0, 60, 20));

    // A changed content size is read again.
    b->setContentSize({ 30, 25 });
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(b->geometry(), QRect(170, 0, 30, 25));
}

TEST(ConstraintLayout, ConstraintHandlesLayOutAgainWhenChanged)
{
    QWidget root;
    root.resize(300, 100);
    auto* v = new Content(&root);
    install(&root, u"V:|[v]|"_s, { { u"v"_s, v } });
    auto left = pin(&root, v, LayoutAttribute::Left, 10);
    auto width = pin(&root, v, LayoutAttribute::Width, 50);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(v->geometry(), QRect(10, 0, 50, 100));

    // A changed constant lays out on the next turn of the main queue.
    left->setConstant(40);
    EXPECT_EQ(v->x(), 10);
    TestSupport::processEvents();
    EXPECT_EQ(v->x(), 40);

    // A weaker competitor wins once the width is no longer required.
    auto wide = LayoutConstraint::create(
        v, LayoutAttribute::Width, LayoutRelation::Equal, &root, LayoutAttribute::Width, 0.5, 0);
    wide->setPriority(500);
    AppKit::addConstraint(&root, wide);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(v->width(), 50);
    width->setPriority(400);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(v->width(), 150);

    // Deactivated, then activated again on the view that held it.
    wide->setActive(false);
    EXPECT_FALSE(wide->isActive());
    EXPECT_EQ(AppKit::constraints(&root).size(), 4);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(v->width(), 50);
    wide->setActive(true);
    EXPECT_EQ(wide->holder(), &root);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(v->width(), 150);
}

TEST(ConstraintLayout, PlacesViewsAcrossLevelsAroundFramesTheParentsSet)
{
    // The outer view holds constraints of a view inside a child whose frame Qt sets, as a
    // scroll view holds those of a view inside its clip view.
    QWidget root;
    root.resize(300, 200);
    auto* clip = new QWidget(&root);
    clip->setGeometry(10, 30, 200, 150);
    auto* inner = new Content(clip);
    install(&root, u"V:|-20-[inner(75)]"_s, { { u"inner"_s, inner } });
    install(&root, u"H:|[inner]|"_s, { { u"inner"_s, inner } });
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(inner->geometry(), QRect(0, 20, 200, 75));
    EXPECT_EQ(clip->geometry(), QRect(10, 30, 200, 150));

    clip->setGeometry(0, 0, 250, 150);
    AppKit::setNeedsLayout(&root);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(inner->geometry(), QRect(0, 20, 250, 75));
}

TEST(ConstraintLayout, SizesNestedViewsByWhatTheirOwnConstraintsNeed)
{
    // A centred content view whose height comes from the chain inside it.
    QWidget root;
    root.resize(400, 600);
    // A plain view: its size hint is the fitting size of its constraints.
    auto* content = new QWidget(&root);
    AppKit::setTranslatesAutoresizingMaskIntoConstraints(content, false);
    auto* picture = new Content(content);
    auto* title = new Content(content, { 120, 30 });
    install(content, u"V:|[picture(300)]-10-[title]|"_s,
        { { u"picture"_s, picture }, { u"title"_s, title } });
    AppKit::addConstraint(content,
        LayoutConstraint::create(picture, LayoutAttribute::Width, LayoutRelation::Equal, picture,
            LayoutAttribute::Height));
    for (QWidget* w : { picture, title })
        AppKit::addConstraint(content,
            LayoutConstraint::create(w, LayoutAttribute::CenterX, LayoutRelation::Equal, content,
                LayoutAttribute::CenterX));
    AppKit::addConstraint(&root,
        LayoutConstraint::create(content, LayoutAttribute::CenterY, LayoutRelation::Equal, &root,
            LayoutAttribute::CenterY));
    install(&root, u"H:|[view]|"_s, { { u"view"_s, content } });
    AppKit::layoutSubtreeIfNeeded(&root);

    EXPECT_EQ(content->geometry(), QRect(0, 130, 400, 340));
    EXPECT_EQ(picture->geometry(), QRect(50, 0, 300, 300));
    EXPECT_EQ(title->geometry(), QRect(140, 310, 120, 30));

    // The title's content grows: the content view grows and stays centred.
    title->setContentSize({ 120, 50 });
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(content->geometry(), QRect(0, 120, 400, 360));
    EXPECT_EQ(title->geometry(), QRect(140, 310, 120, 50));
}

TEST(ConstraintLayout, AWindowFollowsRequiredConstraintsOnItsOwnSize)
{
    QWidget window;
    window.resize(320, 100);
    auto height = pin(&window, &window, LayoutAttribute::Height, 415);
    AppKit::layoutSubtreeIfNeeded(&window);
    EXPECT_EQ(window.size(), QSize(320, 415));
    height->setConstant(107);
    AppKit::layoutSubtreeIfNeeded(&window);
    EXPECT_EQ(window.size(), QSize(320, 107));
    EXPECT_EQ(ConstraintLayout::of(&window)->fittingSize().height(), 107);
}

TEST(ConstraintLayout, DropsConstraintsOfDestroyedViewsAndLeavesOutContradictions)
{
    QWidget root;
    root.resize(200, 100);
    auto* a = new Content(&root);
    auto* b = new Content(&root);
    install(&root, u"H:|-10-[a(50)][b(20)]"_s, { { u"a"_s, a }, { u"b"_s, b } });
    install(&root, u"V:|[a(10)][b(10)]"_s, { { u"a"_s, a }, { u"b"_s, b } });
    const auto countBefore = AppKit::constraints(&root).size();
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(b->geometry(), QRect(60, 10, 20, 10));

    // A required contradiction is left out, the rest still holds.
    auto contradiction = pin(&root, a, LayoutAttribute::Width, 70);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(a->width(), 50);
    EXPECT_TRUE(contradiction->isActive());
    AppKit::removeConstraint(&root, contradiction);

    delete a;
    EXPECT_EQ(AppKit::constraints(&root).size(), countBefore - 6);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(b->size(), QSize(20, 10));
}

TEST(ConstraintLayout, ViewsThatComeAndGoLeaveTheSolverAsItWas)
{
    // A row's option buttons are made again at each reload of a list: the solver must shrink
    // back each time, not keep every view's variables and rows.
    QWidget root;
    root.resize(320, 75);
    auto* kept = new Content(&root, { 40, 20 });
    install(&root, u"H:|[kept]"_s, { { u"kept"_s, kept } });
    install(&root, u"V:|[kept]"_s, { { u"kept"_s, kept } });
    ConstraintLayout* layout = ConstraintLayout::of(&root);
    const auto cycle = [&](int buttons) {
        QList<QWidget*> made;
        QWidget* previous = kept;
        for (int i = 0; i < buttons; ++i) {
            auto* button = new Content(&root, { 64, 20 });
            install(&root, u"H:[previous][button(64)]"_s,
                { { u"previous"_s, previous }, { u"button"_s, button } });
            install(&root, u"V:|[button]|"_s, { { u"button"_s, button } });
            made.append(button);
            previous = button;
        }
        AppKit::layoutSubtreeIfNeeded(&root);
        EXPECT_EQ(previous->geometry(), QRect(40 + (buttons - 1) * 64, 0, 64, 75));
        qDeleteAll(made);
        AppKit::layoutSubtreeIfNeeded(&root);
    };
    AppKit::layoutSubtreeIfNeeded(&root);
    const ConstraintLayout::SolverSize before = layout->solverSize();
    cycle(4);
    const ConstraintLayout::SolverSize once = layout->solverSize();
    EXPECT_EQ(once.constraints, before.constraints);
    for (int i = 0; i < 20; ++i)
        cycle(4);
    const ConstraintLayout::SolverSize after = layout->solverSize();
    EXPECT_EQ(after.constraints, once.constraints);
    EXPECT_EQ(after.variables, once.variables);
    EXPECT_EQ(after.rows, once.rows);
    EXPECT_LE(after.variables, before.variables + 4);
    EXPECT_EQ(kept->geometry(), QRect(0, 0, 40, 20));
}

TEST(ConstraintLayout, FollowsResizesAndContentChangesOfShownWindows)
{
    QWidget window;
    window.resize(300, 100);
    auto* label = new QLabel(u"short"_s, &window);
    AppKit::setTranslatesAutoresizingMaskIntoConstraints(label, false);
    install(&window, u"H:|-10-[label]"_s, { { u"label"_s, label } });
    install(&window, u"V:|-(>=0)-[label]-10-|"_s, { { u"label"_s, label } });
    window.show();
    TestSupport::processEvents();
    const int shortWidth = label->width();
    EXPECT_EQ(label->x(), 10);
    EXPECT_EQ(label->geometry().bottom(), 89);

    // Qt's own resize and size-hint notifications lay the window out again.
    window.resize(300, 200);
    TestSupport::processEvents();
    EXPECT_EQ(label->geometry().bottom(), 189);
    label->setText(u"a considerably longer text"_s);
    TestSupport::processEvents();
    EXPECT_GT(label->width(), shortWidth);
    EXPECT_EQ(label->width(), label->sizeHint().width());
}

namespace {

// Text that wraps: as wide as it is, and 10 points per line of 100 characters' worth of width.
class Wrapping : public QWidget {
public:
    explicit Wrapping(QWidget* parent)
        : QWidget(parent)
    {
        AppKit::setTranslatesAutoresizingMaskIntoConstraints(this, false);
    }
    QSize sizeHint() const override
    {
        const int measured = width() < 100 ? 200 : width();
        return { width(), 10 * ((1000 + measured - 1) / measured) };
    }
};

} // namespace

TEST(ConstraintLayout, GivesWrappingTextTheHeightItNeedsAtItsWidth)
{
    QWidget root;
    root.resize(260, 300);
    auto* text = new Wrapping(&root);
    auto* label = new QLabel(u"Several words that wrap onto more than one line of text"_s, &root);
    label->setWordWrap(true);
    AppKit::setTranslatesAutoresizingMaskIntoConstraints(label, false);
    const LayoutViews views { { u"text"_s, text }, { u"label"_s, label } };
    install(&root, u"H:|-10-[text]-10-|"_s, views);
    install(&root, u"H:|-10-[label(60)]"_s, views);
    install(&root, u"V:|-5-[text][label]"_s, views);
    for (QWidget* w : { static_cast<QWidget*>(text), static_cast<QWidget*>(label) }) {
        AppKit::setContentHuggingPriority(w, 1000, LayoutOrientation::Vertical);
        AppKit::setContentCompressionResistancePriority(w, 1000, LayoutOrientation::Vertical);
    }
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(text->geometry(), QRect(10, 5, 240, 50));
    EXPECT_EQ(label->width(), 60);
    EXPECT_EQ(label->height(), label->heightForWidth(60));
    EXPECT_EQ(label->y(), 55);

    root.resize(120, 300);
    AppKit::layoutSubtreeIfNeeded(&root);
    EXPECT_EQ(text->geometry(), QRect(10, 5, 100, 100));
}

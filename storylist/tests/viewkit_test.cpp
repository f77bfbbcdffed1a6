#include "storylist/ViewKit.h"

#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "testsupport/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

TEST(ViewKit, ConstraintsFromFormatsComeVerticalFirstAndSwitchEveryViewToConstraints)
{
    QWidget root;
    auto* a = new QWidget(&root);
    auto* b = new QWidget(&root);
    const LayoutViews views { { u"a"_s, a }, { u"b"_s, b } };

    EXPECT_TRUE(constraints(&root, std::nullopt, std::nullopt, views).isEmpty());
    EXPECT_TRUE(AppKit::constraints(&root).isEmpty());
    EXPECT_FALSE(AppKit::translatesAutoresizingMaskIntoConstraints(a));
    EXPECT_FALSE(AppKit::translatesAutoresizingMaskIntoConstraints(b));
    EXPECT_TRUE(AppKit::translatesAutoresizingMaskIntoConstraints(&root));

    const LayoutConstraintList made = constraints(&root, u"|[a(10)]"_s, u"[a(20)]"_s, views);
    ASSERT_EQ(made.size(), 3);
    EXPECT_EQ(made.at(0)->firstAttribute(), LayoutAttribute::Top);
    EXPECT_EQ(made.at(1)->firstAttribute(), LayoutAttribute::Height);
    EXPECT_EQ(made.at(2)->firstAttribute(), LayoutAttribute::Width);
    EXPECT_EQ(AppKit::constraints(&root), made);
    for (const auto& c : made)
        EXPECT_EQ(c->holder(), &root);
}

TEST(ViewKit, SingleConstraintHasTheDefaultsAndBelongsToTheReceiver)
{
    QWidget root;
    auto* item = new QWidget(&root);
    const LayoutConstraintRef c
        = constraint(&root, item, LayoutAttribute::Width, LayoutRelation::Equal);
    EXPECT_EQ(c->secondItem(), nullptr);
    EXPECT_EQ(c->secondAttribute(), LayoutAttribute::NotAnAttribute);
    EXPECT_EQ(c->multiplier(), 1.0);
    EXPECT_EQ(c->constant(), 0.0);
    EXPECT_EQ(c->priority(), LayoutPriorities::Required);
    EXPECT_EQ(c->holder(), &root);
    EXPECT_FALSE(AppKit::translatesAutoresizingMaskIntoConstraints(item));
    EXPECT_TRUE(AppKit::translatesAutoresizingMaskIntoConstraints(&root));

    // Both items switch, the receiver included when it is one of them.
    const LayoutConstraintRef centre = constraint(&root, item, LayoutAttribute::CenterY,
        LayoutRelation::Equal, &root, LayoutAttribute::CenterY, 1.0, -1.0, 250);
    EXPECT_FALSE(AppKit::translatesAutoresizingMaskIntoConstraints(&root));
    EXPECT_EQ(centre->constant(), -1.0);
    EXPECT_EQ(centre->priority(), 250.0f);
}

TEST(ViewKit, AddsSubviewsInOrderKeepingHiddenOnesHidden)
{
    QWidget root;
    auto* first = new QLabel;
    auto* second = new QLabel;
    second->hide();
    addSubviews(&root, first, second);
    ASSERT_EQ(root.children().size(), 2);
    EXPECT_EQ(root.children().at(0), first);
    EXPECT_EQ(root.children().at(1), second);
    EXPECT_TRUE(AppKit::translatesAutoresizingMaskIntoConstraints(first));
    root.show();
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(second->isVisible());
}

TEST(ViewKit, AnimationCompletionSetAfterTheCallRunsOnceWhenTheGroupEnds)
{
    VirtualClock clock;
    MainQueue::setClock(&clock);
    QWidget root;
    root.resize(100, 100);
    auto* v = new QWidget(&root);
    const auto height = constraint(&root, v, LayoutAttribute::Height, LayoutRelation::Equal);
    AppKit::layoutSubtreeIfNeeded(&root);

    int runs = 0;
    double durationSeen = 0;
    animate(&root, [&](AnimationContext& ctx) {
        ctx.setDuration(0.3);
        ctx.setAllowsImplicitAnimation(true);
        durationSeen = ctx.duration();
        height->setConstant(60);
    })->setCompletion([&] { ++runs; });
    EXPECT_EQ(durationSeen, 0.3);
    clock.advance(0.15);
    TestSupport::processEvents();
    EXPECT_EQ(v->height(), 30);
    EXPECT_EQ(runs, 0);
    clock.advance(0.15);
    TestSupport::processEvents();
    EXPECT_EQ(v->height(), 60);
    EXPECT_EQ(runs, 1);

    // Never given a completion: the group ends silently; nothing animated: still ends.
    animate(&root, [](AnimationContext&) {});
    clock.advance(1);
    TestSupport::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(AnimationContext::runningGroupCount(), 0u);
    MainQueue::setClock(nullptr);
}

TEST(ViewKit, TextFieldIsACentredPlainReadOnlyLabel)
{
    std::unique_ptr<QLabel> field(initTextField(u"<b>Tom & Jerry</b>"_s, QColor(Qt::red)));
    EXPECT_EQ(field->text(), u"<b>Tom & Jerry</b>"_s);
    EXPECT_EQ(field->textFormat(), Qt::PlainText);
    EXPECT_EQ(field->alignment(), Qt::AlignCenter);
    EXPECT_EQ(field->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_EQ(field->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(field->autoFillBackground());
    EXPECT_EQ(field->palette().color(QPalette::WindowText), QColor(Qt::red));

    // Without colour or font the field keeps its defaults.
    std::unique_ptr<QLabel> plain(initTextField(u"x"_s));
    QLabel reference;
    EXPECT_EQ(plain->palette().color(QPalette::WindowText),
        reference.palette().color(QPalette::WindowText));
    EXPECT_EQ(plain->font(), reference.font());
}

TEST(ViewKit, ButtonTitleIsWhiteUnlessColouredAndAnImageMakesItBorderless)
{
    std::unique_ptr<QPushButton> plain(initButton(u"Save & close"_s));
    EXPECT_EQ(plain->text(), u"Save && close"_s);
    EXPECT_EQ(plain->palette().color(QPalette::ButtonText), QColor(Qt::white));
    EXPECT_FALSE(plain->isFlat());

    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    std::unique_ptr<QPushButton> backed(
        initButton(QString(), QColor(Qt::green), QColor(Qt::black), ButtonCorners::Rounded, image));
    EXPECT_EQ(backed->palette().color(QPalette::ButtonText), QColor(Qt::green));
    EXPECT_TRUE(backed->isFlat());
    backed->resize(40, 20);
    // Drawing it paints the image under the title.
    const QImage shot = backed->grab().toImage();
    EXPECT_EQ(shot.pixelColor(20, 10), QColor(Qt::blue));
}

TEST(ViewKitDeathTest, AMalformedFormatStopsWithTheParsersMessage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            QWidget root;
            auto* a = new QWidget(&root);
            constraints(&root, u"|[a"_s, std::nullopt, { { u"a"_s, a } });
        },
        "Unable to parse visual format \"V:\\|\\[a\" at position 5");
}

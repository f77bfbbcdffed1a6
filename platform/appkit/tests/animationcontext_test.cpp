#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"

#include "testsupport/TestSupport.h"

#include <QColor>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

namespace {

class AnimationContextTest : public testing::Test {
protected:
    void SetUp() override
    {
        MainQueue::setClock(&clock);
        root.resize(200, 100);
        view = new QWidget(&root);
        AppKit::setTranslatesAutoresizingMaskIntoConstraints(view, false);
        left = constraint(LayoutAttribute::Left, 0);
        constraint(LayoutAttribute::Top, 0);
        constraint(LayoutAttribute::Width, 50);
        constraint(LayoutAttribute::Height, 20);
        AppKit::layoutSubtreeIfNeeded(&root);
    }

    void TearDown() override
    {
        // Every group a test starts ends within it.
        clock.advance(10);
        TestSupport::processEvents();
        EXPECT_EQ(AnimationContext::runningGroupCount(), 0u);
        MainQueue::setClock(nullptr);
    }

    LayoutConstraintRef constraint(LayoutAttribute a, double constant)
    {
        auto c = LayoutConstraint::create(view, a, LayoutRelation::Equal, nullptr,
            LayoutAttribute::NotAnAttribute, 1.0, constant);
        AppKit::addConstraint(&root, c);
        return c;
    }

    static std::function<void(AnimationContext&)> animated(
        double seconds, std::function<void()> changes)
    {
        return [seconds, changes = std::move(changes)](AnimationContext& ctx) {
            ctx.setDuration(seconds);
            ctx.setAllowsImplicitAnimation(true);
            changes();
        };
    }

    VirtualClock clock;
    QWidget root;
    QWidget* view = nullptr;
    LayoutConstraintRef left;
};

} // namespace

TEST_F(AnimationContextTest, MovesAViewOverTheDurationWhenAConstantChangesInAGroup)
{
    int completions = 0;
    AnimationContext::runAnimationGroup(
        animated(0.3, [&] { left->setConstant(100); }), [&] { ++completions; });
    EXPECT_EQ(view->x(), 0);
    EXPECT_EQ(AppKit::targetFrame(view).x(), 100);

    clock.advance(0.15);
    EXPECT_EQ(view->x(), 50);
    TestSupport::processEvents();
    EXPECT_EQ(completions, 0);

    clock.advance(0.15);
    EXPECT_EQ(view->x(), 100);
    TestSupport::processEvents();
    EXPECT_EQ(completions, 1);

    clock.advance(1.0);
    TestSupport::processEvents();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(view->geometry(), QRect(100, 0, 50, 20));
}

TEST_F(AnimationContextTest, CompletesOnTheMainQueueWhenNothingAnimates)
{
    int completions = 0;
    // Without implicit animation the change applies at once.
    AnimationContext::runAnimationGroup(
        [&](AnimationContext& ctx) {
            ctx.setDuration(0.5);
            left->setConstant(30);
        },
        [&] { ++completions; });
    EXPECT_EQ(view->x(), 30);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(AnimationContext::runningGroupCount(), 0u);
    TestSupport::processEvents();
    EXPECT_EQ(completions, 1);

    AnimationContext::runAnimationGroup(animated(0.3, [] {}), [&] { ++completions; });
    TestSupport::processEvents();
    EXPECT_EQ(completions, 2);
}

TEST_F(AnimationContextTest, LaysOutInsideAGroupAlongItsTimingCurve)
{
    // Changed outside, laid out inside: the subtree layout is what animates.
    left->setConstant(100);
    AnimationContext::runAnimationGroup([&](AnimationContext& ctx) {
        ctx.setDuration(0.4);
        ctx.setAllowsImplicitAnimation(true);
        ctx.setTimingFunction(AnimationContext::easeInEaseOut());
        AppKit::layoutSubtreeIfNeeded(&root);
    });
    clock.advance(0.1);
    EXPECT_LT(view->x(), 25);
    EXPECT_GT(view->x(), 0);
    clock.advance(0.1);
    EXPECT_NEAR(view->x(), 50, 1);
    clock.advance(0.2);
    EXPECT_EQ(view->x(), 100);
}

TEST_F(AnimationContextTest, AnimatesOpacityAndRetargetsARunningChange)
{
    int completions = 0;
    AnimationContext::runAnimationGroup(
        animated(0.5, [&] { AppKit::setOpacity(view, 0.0); }), [&] { ++completions; });
    EXPECT_DOUBLE_EQ(AppKit::opacity(view), 0.0);
    clock.advance(0.25);
    AppKit::setOpacity(view, 1.0); // outside a group: at once, ending the fade
    EXPECT_DOUBLE_EQ(AppKit::opacity(view), 1.0);
    clock.advance(0.5);
    TestSupport::processEvents();
    EXPECT_DOUBLE_EQ(AppKit::opacity(view), 1.0);
    EXPECT_EQ(completions, 1);

    // Any value can animate; a second change of it in a later group starts from where it is.
    QColor shown;
    auto setColor = [&](QColor to) {
        AnimationContext::animateValue(view, "background",
            shown.isValid() ? shown : QColor(Qt::black), to,
            [&](const QVariant& v) { shown = v.value<QColor>(); });
    };
    AnimationContext::runAnimationGroup(animated(0.5, [&] { setColor(QColor(Qt::red)); }));
    clock.advance(0.25);
    const QColor halfway = shown;
    EXPECT_GT(halfway.red(), 100);
    EXPECT_LT(halfway.red(), 155);
    AnimationContext::runAnimationGroup(animated(0.5, [&] { setColor(QColor(Qt::black)); }));
    clock.advance(0.5);
    EXPECT_EQ(shown, QColor(Qt::black));
}

TEST_F(AnimationContextTest, RunsNestedGroupsFromCompletionsAndSurvivesADestroyedView)
{
    std::vector<int> order;
    AnimationContext::runAnimationGroup(animated(0.3, [&] { left->setConstant(60); }), [&] {
        order.push_back(1);
        AnimationContext::runAnimationGroup(
            animated(0.2, [&] { left->setConstant(0); }), [&] { order.push_back(2); });
    });
    clock.advance(0.3);
    TestSupport::processEvents();
    EXPECT_EQ(order, std::vector<int> { 1 });
    EXPECT_EQ(view->x(), 60);
    clock.advance(0.2);
    TestSupport::processEvents();
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(view->x(), 0);

    bool completed = false;
    AnimationContext::runAnimationGroup(
        animated(0.3, [&] { left->setConstant(90); }), [&] { completed = true; });
    clock.advance(0.1);
    delete view;
    view = nullptr;
    EXPECT_FALSE(left->isActive());
    clock.advance(0.3);
    TestSupport::processEvents();
    EXPECT_TRUE(completed);
}

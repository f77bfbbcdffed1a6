#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QByteArray>
#include <QEasingCurve>
#include <QVariant>

#include <cstddef>
#include <functional>
#include <memory>

class QObject;

namespace Tickerly::AppKit {

// Grouped animations with a duration, a timing curve and one completion.
//
// runAnimationGroup() opens a group, runs the caller's changes inside it and closes it. While
// the group is open and allows implicit animation, every animatable change made through this
// layer (frames set by a constraint layout pass or setFrame(), opacity, constraint constants,
// values changed through animateValue()) runs from its current to its new value over the
// group's duration instead of at once. The completion runs exactly once on the main queue
// after the last of the group's animations has ended, or on the next turn of the main queue
// when nothing animated.
//
// Animations are stepped by the main queue's clock (MainQueue::clock()), so a test with a
// virtual clock moves them by advancing that clock. Main thread only.
class TICKERLYAPPKIT_EXPORT AnimationContext {
public:
    // The group's settings; the defaults are 0.25 s, linear, no implicit animation.
    double duration() const { return m_duration; }
    void setDuration(double seconds);
    const QEasingCurve& timingFunction() const { return m_timing; }
    void setTimingFunction(const QEasingCurve& curve) { m_timing = curve; }
    bool allowsImplicitAnimation() const { return m_implicit; }
    void setAllowsImplicitAnimation(bool allows) { m_implicit = allows; }

    // Whether changes made now animate.
    bool animates() const { return m_implicit && m_duration > 0; }

    // Runs `changes` inside a new group (groups nest: the innermost open one is current);
    // `completionHandler` runs once on the main queue when the group has ended.
    static void runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
        std::function<void()> completionHandler = {});

    // The innermost open group, or null outside runAnimationGroup().
    static AnimationContext* current();

    // Sets one animatable value of `target` named `key`: `apply` receives each intermediate
    // value and last `to`. Animated from `from` when the current group animates; otherwise
    // applied at once. A new change of the same value replaces a running animation of it.
    static void animateValue(QObject* target, const QByteArray& key, const QVariant& from,
        const QVariant& to, std::function<void(const QVariant&)> apply);

    // The value a running animation of `key` on `target` is heading for, if one runs.
    static QVariant animationTarget(const QObject* target, const QByteArray& key);

    // Runs `fn` once when the current group's changes have been made, still inside the group
    // (so a layout that several changes asked for runs once and animates). Without an open
    // group `fn` runs at once. `key` folds repeated requests of one object into one.
    static void whenChangesEnd(QObject* key, std::function<void()> fn);

    // Groups that have started animations and not yet ended.
    static std::size_t runningGroupCount();

    // The platform's named curves.
    static QEasingCurve linear();
    static QEasingCurve easeIn();
    static QEasingCurve easeOut();
    static QEasingCurve easeInEaseOut();

    struct Group;

private:
    explicit AnimationContext(Group* group)
        : m_group(group)
    {
    }

    Group* m_group;
    double m_duration = 0.25;
    QEasingCurve m_timing = QEasingCurve(QEasingCurve::Linear);
    bool m_implicit = false;
};

} // namespace Tickerly::AppKit

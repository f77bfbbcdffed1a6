#include "platform/appkit/AnimationContext.h"

#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

struct AnimationContext::Group {
    Group()
        : context(this)
    {
    }

    AnimationContext context;
    std::function<void()> completion;
    std::vector<QPointer<QVariantAnimation>> animations;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> atClose;
    double start = 0;
    double length = 0; // seconds until the longest animation ends
};

namespace {

using Group = AnimationContext::Group;

constexpr double kFrameInterval = 1.0 / 60.0;

// Keeps the open and the running groups and steps the running ones by the main queue's clock.
class Runner : public QObject {
public:
    struct Running {
        QPointer<QVariantAnimation> animation;
        QVariant to;
        Group* group = nullptr;
    };
    using Key = std::pair<const QObject*, QByteArray>;

    std::vector<std::shared_ptr<Group>> open;
    std::vector<std::shared_ptr<Group>> running;
    std::map<Key, Running> byKey;

    void stop(const Key& key)
    {
        auto it = byKey.find(key);
        if (it == byKey.end())
            return;
        if (QVariantAnimation* a = it->second.animation) {
            auto& list = it->second.group->animations;
            list.erase(std::remove(list.begin(), list.end(), a), list.end());
            // The change may come from inside this very animation's step.
            QObject::disconnect(a, nullptr, nullptr, nullptr);
            a->deleteLater();
        }
        byKey.erase(it);
    }

    void start(const std::shared_ptr<Group>& g)
    {
        running.push_back(g);
        Clock& clock = MainQueue::clock();
        clock.schedule(std::max(0.0, g->start + g->length - clock.now()), this, [this] { tick(); });
        scheduleFrame();
    }

    void scheduleFrame()
    {
        Clock& clock = MainQueue::clock();
        // A tick pending on a clock that has since been replaced never comes.
        if (m_framePending && m_frameClock == &clock && clock.now() <= m_frameDue + 1.0)
            return;
        m_framePending = true;
        m_frameClock = &clock;
        m_frameDue = clock.now() + kFrameInterval;
        clock.schedule(kFrameInterval, this, [this] {
            m_framePending = false;
            tick();
        });
    }

    void tick()
    {
        const double now = MainQueue::clock().now();
        const auto groups = running;
        for (const auto& g : groups)
            step(*g, now);
        if (!running.empty())
            scheduleFrame();
    }

private:
    void step(Group& g, double now)
    {
        const double elapsed = now - g.start;
        // A step may stop other animations of the group (a nested layout moving views).
        const auto animations = g.animations;
        for (const auto& a : animations) {
            if (!a)
                continue;
            const int ms = static_cast<int>(std::lround(std::clamp(elapsed, 0.0, 1.0e6) * 1000.0));
            a->setCurrentTime(std::min(ms, a->duration()));
        }
        if (elapsed + 1e-9 >= g.length)
            finish(g);
    }

    void finish(Group& g)
    {
        for (auto it = byKey.begin(); it != byKey.end();) {
            if (it->second.group == &g)
                it = byKey.erase(it);
            else
                ++it;
        }
        for (const auto& a : g.animations)
            delete a.data();
        g.animations.clear();
        std::function<void()> completion = std::move(g.completion);
        auto self = std::find_if(
            running.begin(), running.end(), [&](const auto& p) { return p.get() == &g; });
        std::shared_ptr<Group> keep = *self;
        running.erase(self);
        MainQueue::dispatchAsync([completion = std::move(completion)] {
            if (completion)
                completion();
        });
    }

    bool m_framePending = false;
    Clock* m_frameClock = nullptr;
    double m_frameDue = 0;
};

Runner& runner()
{
    static Runner* r = new Runner; // lives until the process ends
    return *r;
}

} // namespace

void AnimationContext::setDuration(double seconds)
{
    m_duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
}

void AnimationContext::runAnimationGroup(
    const std::function<void(AnimationContext&)>& changes, std::function<void()> completionHandler)
{
    Runner& r = runner();
    auto g = std::make_shared<Group>();
    g->start = MainQueue::clock().now();
    g->completion = std::move(completionHandler);
    r.open.push_back(g);
    if (changes)
        changes(g->context);
    // Work deferred to the end of the changes may defer more; run until none is left.
    while (!g->atClose.empty()) {
        auto pending = std::move(g->atClose);
        g->atClose.clear();
        for (auto& [key, fn] : pending) {
            if (!key.isNull())
                fn();
        }
    }
    r.open.pop_back();

    g->animations.erase(
        std::remove(g->animations.begin(), g->animations.end(), nullptr), g->animations.end());
    if (g->animations.empty()) {
        MainQueue::dispatchAsync([completion = std::move(g->completion)] {
            if (completion)
                completion();
        });
        return;
    }
    r.start(g);
}

AnimationContext* AnimationContext::current()
{
    Runner& r = runner();
    return r.open.empty() ? nullptr : &r.open.back()->context;
}

void AnimationContext::animateValue(QObject* target, const QByteArray& key, const QVariant& from,
    const QVariant& to, std::function<void(const QVariant&)> apply)
{
    Runner& r = runner();
    r.stop({ target, key });
    AnimationContext* ctx = current();
    if (!target || !ctx || !ctx->animates() || from == to) {
        apply(to);
        return;
    }
    Group* g = ctx->m_group;
    auto* a = new QVariantAnimation(target);
    a->setStartValue(from);
    a->setEndValue(to);
    a->setDuration(static_cast<int>(std::lround(ctx->duration() * 1000.0)));
    a->setEasingCurve(ctx->timingFunction());
    QObject::connect(a, &QVariantAnimation::valueChanged, a,
        [apply = std::move(apply)](const QVariant& v) { apply(v); });
    g->animations.emplace_back(a);
    g->length = std::max(g->length, ctx->duration());
    r.byKey[{ target, key }] = Runner::Running { a, to, g };
}

QVariant AnimationContext::animationTarget(const QObject* target, const QByteArray& key)
{
    Runner& r = runner();
    auto it = r.byKey.find({ target, key });
    if (it == r.byKey.end() || !it->second.animation)
        return {};
    return it->second.to;
}

void AnimationContext::whenChangesEnd(QObject* key, std::function<void()> fn)
{
    AnimationContext* ctx = current();
    if (!ctx) {
        fn();
        return;
    }
    auto& list = ctx->m_group->atClose;
    const bool known
        = std::any_of(list.begin(), list.end(), [&](const auto& p) { return p.first == key; });
    if (!known)
        list.emplace_back(key, std::move(fn));
}

std::size_t AnimationContext::runningGroupCount() { return runner().running.size(); }

QEasingCurve AnimationContext::linear() { return QEasingCurve(QEasingCurve::Linear); }

namespace {

QEasingCurve bezier(double x1, double y1, double x2, double y2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

} // namespace

QEasingCurve AnimationContext::easeIn() { return bezier(0.42, 0.0, 1.0, 1.0); }

QEasingCurve AnimationContext::easeOut() { return bezier(0.0, 0.0, 0.58, 1.0); }

QEasingCurve AnimationContext::easeInEaseOut() { return bezier(0.42, 0.0, 0.58, 1.0); }

} // namespace Tickerly::AppKit

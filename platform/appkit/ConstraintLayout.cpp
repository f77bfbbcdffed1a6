#include "platform/appkit/ConstraintLayout.h"

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout_p.h"
#include "platform/foundation/base/MainQueue.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

using namespace ConstraintLayoutDetail;

ConstraintLayout::ConstraintLayout(QWidget* holder)
    : QLayout(holder)
    , d(std::make_unique<Engine>())
{
    d->holder = holder;
    setContentsMargins(0, 0, 0, 0);
    setSizeConstraint(QLayout::SetNoConstraint);
}

ConstraintLayout::~ConstraintLayout()
{
    for (const auto& c : d->constraints)
        c->m_layout = nullptr;
}

ConstraintLayout* ConstraintLayout::of(QWidget* holder, Lookup lookup)
{
    if (!holder)
        return nullptr;
    QLayout* existing = holder->layout();
    if (auto* mine = qobject_cast<ConstraintLayout*>(existing))
        return mine;
    if (lookup == Lookup::ExistingOnly)
        return nullptr;
    if (existing)
        qFatal("ConstraintLayout: %s already has a layout of another kind and cannot hold "
               "constraints",
            holder->metaObject()->className());
    return new ConstraintLayout(holder);
}

void ConstraintLayout::addConstraint(const LayoutConstraintRef& c)
{
    if (!c)
        return;
    if (c->m_layout == this)
        return;
    if (c->m_layout)
        c->m_layout->removeConstraint(c);
    c->m_layout = this;
    c->m_lastHolder = d->holder;
    d->constraints.append(c);
    d->installed[c.get()] = {};
    setNeedsLayout();
}

void ConstraintLayout::removeConstraint(const LayoutConstraintRef& c)
{
    if (!c || c->m_layout != this)
        return;
    d->uninstall(c.get());
    d->constraints.removeAll(c);
    c->m_layout = nullptr;
    setNeedsLayout();
}

const LayoutConstraintList& ConstraintLayout::constraints() const { return d->constraints; }

void ConstraintLayout::constraintChanged(LayoutConstraint* c)
{
    auto it = d->installed.find(c);
    if (it != d->installed.end()) {
        if (it->second.inSolver)
            d->solver.removeConstraint(it->second.id);
        it->second = {};
    }
    setNeedsLayout();
}

void ConstraintLayout::setNeedsLayout()
{
    d->dirty = true;
    d->fittingValid = false;
    if (AnimationContext::current()) {
        // Changes made inside a group are laid out when its changes end, within the group.
        AnimationContext::whenChangesEnd(this, [this] { layoutIfNeeded(); });
    }
    if (!d->passScheduled) {
        d->passScheduled = true;
        MainQueue::dispatchAsync(
            [this] {
                d->passScheduled = false;
                layoutIfNeeded();
            },
            this);
    }
}

bool ConstraintLayout::needsLayout() const { return d->dirty; }

void ConstraintLayout::layoutIfNeeded()
{
    if (d->dirty || d->lastSize != d->holder->size())
        performLayout();
}

void ConstraintLayout::performLayout()
{
    if (d->inPass)
        return;
    d->inPass = true;
    d->dirty = false;
    // A view whose content size follows its width (wrapping text) reads it again once it
    // has its width; a few rounds settle it.
    for (int round = 0; round < 3; ++round) {
        d->prepare(this);
        applyFrames();
        if (!d->intrinsicSizesMoved())
            break;
    }
    d->lastSize = d->holder->size();

    // Required constraints on the holder's own size ask its parent for another size.
    const Engine::Item& self = d->items.at(d->holder);
    const QSize solved(static_cast<int>(std::lround(self.width.value())),
        static_cast<int>(std::lround(self.height.value())));
    if (solved != d->holder->size() && solved != d->lastSolvedReported) {
        d->lastSolvedReported = solved;
        if (d->holder->isWindow())
            d->holder->resize(solved);
        else
            AppKit::invalidateIntrinsicContentSize(d->holder);
    }
    d->inPass = false;
}

void ConstraintLayout::applyFrames()
{
    // Parents before children, so that mapping into a parent uses its new place.
    std::vector<Engine::Item*> free;
    for (auto& [w, item] : d->items) {
        if (!item.isHolder && item.mode == Engine::Item::Mode::Free && d->contains(item.view))
            free.push_back(&item);
    }
    const auto depth = [this](const QWidget* w) {
        int n = 0;
        for (; w && w != d->holder; w = w->parentWidget())
            ++n;
        return n;
    };
    std::stable_sort(free.begin(), free.end(), [&](const Engine::Item* a, const Engine::Item* b) {
        return depth(a->view) < depth(b->view);
    });
    for (Engine::Item* item : free) {
        const double l = item->left.value();
        const double t = item->top.value();
        const int x0 = static_cast<int>(std::lround(l));
        const int y0 = static_cast<int>(std::lround(t));
        const int x1 = static_cast<int>(std::lround(l + item->width.value()));
        const int y1 = static_cast<int>(std::lround(t + item->height.value()));
        QRect r(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
        const QWidget* parent = item->view->parentWidget();
        if (parent && parent != d->holder)
            r.translate(-parent->mapTo(d->holder, QPoint(0, 0)));
        AppKit::setFrame(item->view, r);
    }
}

QSize ConstraintLayout::fittingSize() const
{
    if (d->fittingValid)
        return d->fitting;
    auto* self = const_cast<ConstraintLayout*>(this);
    d->prepare(self);
    Engine::Item& holder = d->items.at(d->holder);
    Linear::Solver& solver = d->solver;
    solver.removeEditVariable(holder.width);
    solver.removeEditVariable(holder.height);
    solver.addEditVariable(holder.width, kFitting);
    solver.addEditVariable(holder.height, kFitting);
    solver.suggestValue(holder.width, 0);
    solver.suggestValue(holder.height, 0);
    solver.updateVariables();
    d->fitting = QSize(static_cast<int>(std::ceil(holder.width.value() - 1e-6)),
        static_cast<int>(std::ceil(holder.height.value() - 1e-6)));
    solver.removeEditVariable(holder.width);
    solver.removeEditVariable(holder.height);
    solver.addEditVariable(holder.width, kFixedFrame);
    solver.addEditVariable(holder.height, kFixedFrame);
    holder.suggested[2] = holder.suggested[3] = std::numeric_limits<double>::quiet_NaN();
    d->refresh(holder);
    solver.updateVariables();
    d->fittingValid = true;
    return d->fitting;
}

ConstraintLayout::SolverSize ConstraintLayout::solverSize() const
{
    return { d->solver.rowCount(), d->solver.variableCount(), d->solver.constraintCount() };
}

void ConstraintLayout::invalidateFittingSize() { d->fittingValid = false; }

QSize ConstraintLayout::sizeHint() const { return fittingSize(); }

QSize ConstraintLayout::minimumSize() const { return QSize(0, 0); }

void ConstraintLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    if (d->dirty || rect.size() != d->lastSize)
        performLayout();
}

void ConstraintLayout::invalidate()
{
    QLayout::invalidate();
    // A child's size hint changed: its intrinsic size is read again at the next pass.
    if (!d->inPass) {
        setNeedsLayout();
        AppKit::invalidateIntrinsicContentSize(d->holder);
    }
}

void ConstraintLayout::addItem(QLayoutItem* item)
{
    qWarning("ConstraintLayout places views by constraints only; the item is dropped");
    delete item;
}

} // namespace Tickerly::AppKit

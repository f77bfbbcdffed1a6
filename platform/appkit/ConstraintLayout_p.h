#pragma once

// The solver side of ConstraintLayout: private to the layout layer.

#include "platform/appkit/Namespace.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/LinearSolver.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

namespace Tickerly::AppKit {

namespace ConstraintLayoutDetail {

// Weights: each 200 points of priority is a factor of ten, so 750 outweighs 250 about 300
// times over, while the whole range stays well inside double precision for the simplex.
inline double weightOf(LayoutPriority p)
{
    if (p >= LayoutPriorities::Required)
        return Linear::Strength::required;
    return std::pow(10.0, std::max(0.0f, p) / 200.0);
}

// The holder's size and the frames of views placed by their parent: firmer than any
// non-required priority.
constexpr double kFixedFrame = 1.0e6;
// Where nothing else decides, a free view keeps its frame.
constexpr double kStay = 0.1;
// How firmly the fitting size pulls the holder towards zero (a low priority of 50).
inline const double kFitting = weightOf(50.0f);

inline Linear::Relation relationOf(LayoutRelation r)
{
    switch (r) {
    case LayoutRelation::LessThanOrEqual:
        return Linear::Relation::LessOrEqual;
    case LayoutRelation::GreaterThanOrEqual:
        return Linear::Relation::GreaterOrEqual;
    case LayoutRelation::Equal:
        break;
    }
    return Linear::Relation::Equal;
}

} // namespace ConstraintLayoutDetail

struct ConstraintLayout::Engine {
    struct Item {
        QWidget* view = nullptr;
        bool isHolder = false;
        Linear::Variable left, top, width, height;
        enum class Mode { None, Fixed, Free } mode = Mode::None;
        double suggested[4] = { std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::quiet_NaN() };
        QSize intrinsic { -1, -1 };
        int intrinsicWidth = -1; // the view's width when `intrinsic` was read
        LayoutPriority priorities[4] = { -1, -1, -1, -1 }; // hug h, hug v, comp h, comp v
        std::vector<Linear::Solver::ConstraintId> intrinsicIds;

        Linear::Variable* vars() { return &left; }
    };
    struct Installed {
        Linear::Solver::ConstraintId id = 0;
        bool inSolver = false;
        bool warned = false;
    };

    QWidget* holder = nullptr;
    Linear::Solver solver;
    LayoutConstraintList constraints;
    std::unordered_map<const LayoutConstraint*, Installed> installed;
    std::unordered_map<const QWidget*, Item> items;
    bool dirty = true;
    bool passScheduled = false;
    bool inPass = false;
    bool fittingValid = false;
    QSize fitting;
    QSize lastSize { -1, -1 };
    QSize lastSolvedReported { -1, -1 };

    bool contains(const QWidget* w) const { return w == holder || holder->isAncestorOf(w); }

    Item& itemFor(QWidget* w, ConstraintLayout* layout)
    {
        auto it = items.find(w);
        if (it != items.end())
            return it->second;
        Item& item = items[w];
        item.view = w;
        item.isHolder = w == holder;
        if (item.isHolder) {
            solver.addConstraint(
                Linear::Expression(item.left), Linear::Relation::Equal, Linear::Strength::required);
            solver.addConstraint(
                Linear::Expression(item.top), Linear::Relation::Equal, Linear::Strength::required);
            solver.addEditVariable(item.width, ConstraintLayoutDetail::kFixedFrame);
            solver.addEditVariable(item.height, ConstraintLayoutDetail::kFixedFrame);
            item.mode = Item::Mode::Fixed;
        } else {
            QObject::connect(
                w, &QObject::destroyed, layout, [layout, w] { layout->d->itemDestroyed(w); });
        }
        return item;
    }

    Linear::Expression expressionOf(Item& item, LayoutAttribute a)
    {
        Linear::Expression e;
        switch (a) {
        case LayoutAttribute::Left:
        case LayoutAttribute::Leading:
            e.add(item.left, 1);
            break;
        case LayoutAttribute::Right:
        case LayoutAttribute::Trailing:
            e.add(item.left, 1).add(item.width, 1);
            break;
        case LayoutAttribute::Top:
            e.add(item.top, 1);
            break;
        case LayoutAttribute::Bottom:
            e.add(item.top, 1).add(item.height, 1);
            break;
        case LayoutAttribute::Width:
            e.add(item.width, 1);
            break;
        case LayoutAttribute::Height:
            e.add(item.height, 1);
            break;
        case LayoutAttribute::CenterX:
            e.add(item.left, 1).add(item.width, 0.5);
            break;
        case LayoutAttribute::CenterY:
            e.add(item.top, 1).add(item.height, 0.5);
            break;
        case LayoutAttribute::NotAnAttribute:
            break;
        }
        return e;
    }

    void install(const LayoutConstraintRef& c, ConstraintLayout* layout)
    {
        Installed& state = installed[c.get()];
        if (state.inSolver)
            return;
        QWidget* first = c->firstItem();
        QWidget* second = c->secondItem();
        const bool usesSecond = second && c->secondAttribute() != LayoutAttribute::NotAnAttribute;
        if (!first || !contains(first) || (usesSecond && !contains(second))) {
            if (!state.warned)
                qWarning().noquote() << "Constraint" << c->description()
                                     << "names a view outside the subtree of the view holding it;"
                                        " it waits until the view is placed there";
            state.warned = true;
            return;
        }
        Linear::Expression e = expressionOf(itemFor(first, layout), c->firstAttribute());
        if (usesSecond)
            e.add(expressionOf(itemFor(second, layout), c->secondAttribute()), -c->multiplier());
        e.constant -= c->constant();
        Linear::Solver::ConstraintId id = 0;
        const Linear::SolverError error
            = solver.addConstraint(e, ConstraintLayoutDetail::relationOf(c->relation()),
                ConstraintLayoutDetail::weightOf(c->priority()), &id);
        if (error != Linear::SolverError::None) {
            if (!state.warned)
                qWarning().noquote() << "Unable to satisfy constraint" << c->description()
                                     << "together with the others; it is left out";
            state.warned = true;
            return;
        }
        state.id = id;
        state.inSolver = true;
        state.warned = false;
    }

    void uninstall(const LayoutConstraint* c)
    {
        auto it = installed.find(c);
        if (it == installed.end())
            return;
        if (it->second.inSolver)
            solver.removeConstraint(it->second.id);
        installed.erase(it);
    }

    void itemDestroyed(const QWidget* w)
    {
        // Every constraint naming a dead view goes, as the platform removes constraints with
        // their views. (A widget announces its end before its guarded pointers clear.)
        for (int i = constraints.size() - 1; i >= 0; --i) {
            const LayoutConstraintRef c = constraints.at(i);
            if (c->m_first.data() == w || c->m_second.data() == w || !c->m_first
                || (c->m_hadSecond && !c->m_second)) {
                uninstall(c.get());
                c->m_layout = nullptr;
                constraints.removeAt(i);
            }
        }
        auto it = items.find(w);
        if (it != items.end()) {
            removeItemConstraints(it->second);
            for (int i = 0; i < 4; ++i)
                solver.removeVariable(it->second.vars()[i]);
            items.erase(it);
        }
        dirty = true;
        fittingValid = false;
    }

    void removeItemConstraints(Item& item)
    {
        if (item.mode != Item::Mode::None && !item.isHolder) {
            for (int i = 0; i < 4; ++i)
                solver.removeEditVariable(item.vars()[i]);
        }
        for (auto id : item.intrinsicIds)
            solver.removeConstraint(id);
        item.intrinsicIds.clear();
    }

    // The item's rectangle in holder coordinates, as it stands or is animating to.
    QRect frameInHolder(const QWidget* w) const
    {
        QRect r = AppKit::targetFrame(w);
        const QWidget* parent = w->parentWidget();
        if (parent && parent != holder)
            r.translate(parent->mapTo(holder, QPoint(0, 0)));
        return r;
    }

    void suggest(Item& item, int index, double value)
    {
        if (item.suggested[index] == value)
            return;
        item.suggested[index] = value;
        solver.suggestValue(item.vars()[index], value);
    }

    void refresh(Item& item)
    {
        if (item.isHolder) {
            suggest(item, 2, holder->width());
            suggest(item, 3, holder->height());
            return;
        }
        QWidget* w = item.view;
        if (!contains(w))
            return;
        const Item::Mode want = AppKit::translatesAutoresizingMaskIntoConstraints(w)
            ? Item::Mode::Fixed
            : Item::Mode::Free;
        if (want != item.mode) {
            if (item.mode != Item::Mode::None) {
                for (int i = 0; i < 4; ++i)
                    solver.removeEditVariable(item.vars()[i]);
            }
            for (int i = 0; i < 4; ++i) {
                solver.addEditVariable(item.vars()[i],
                    want == Item::Mode::Fixed ? ConstraintLayoutDetail::kFixedFrame
                                              : ConstraintLayoutDetail::kStay);
                item.suggested[i] = std::numeric_limits<double>::quiet_NaN();
            }
            item.mode = want;
        }
        const QRect r = frameInHolder(w);
        suggest(item, 0, r.x());
        suggest(item, 1, r.y());
        suggest(item, 2, r.width());
        suggest(item, 3, r.height());
        refreshIntrinsic(item, want == Item::Mode::Free);
    }

    void refreshIntrinsic(Item& item, bool free)
    {
        QSize size(-1, -1);
        LayoutPriority p[4] = { -1, -1, -1, -1 };
        if (free) {
            item.intrinsicWidth = item.view->width();
            size = AppKit::intrinsicContentSize(item.view);
            p[0] = AppKit::contentHuggingPriority(item.view, LayoutOrientation::Horizontal);
            p[1] = AppKit::contentHuggingPriority(item.view, LayoutOrientation::Vertical);
            p[2] = AppKit::contentCompressionResistancePriority(
                item.view, LayoutOrientation::Horizontal);
            p[3] = AppKit::contentCompressionResistancePriority(
                item.view, LayoutOrientation::Vertical);
        }
        if (size == item.intrinsic && std::equal(p, p + 4, item.priorities))
            return;
        for (auto id : item.intrinsicIds)
            solver.removeConstraint(id);
        item.intrinsicIds.clear();
        item.intrinsic = size;
        std::copy(p, p + 4, item.priorities);
        fittingValid = false;
        const auto add
            = [&](const Linear::Variable& v, int value, Linear::Relation r, LayoutPriority prio) {
                  Linear::Expression e(v);
                  e.constant = -value;
                  Linear::Solver::ConstraintId id = 0;
                  if (solver.addConstraint(e, r, ConstraintLayoutDetail::weightOf(prio), &id)
                      == Linear::SolverError::None)
                      item.intrinsicIds.push_back(id);
              };
        if (size.width() >= 0) {
            add(item.width, size.width(), Linear::Relation::LessOrEqual, p[0]);
            add(item.width, size.width(), Linear::Relation::GreaterOrEqual, p[2]);
        }
        if (size.height() >= 0) {
            add(item.height, size.height(), Linear::Relation::LessOrEqual, p[1]);
            add(item.height, size.height(), Linear::Relation::GreaterOrEqual, p[3]);
        }
    }

    bool intrinsicSizesMoved() const
    {
        for (const auto& [w, item] : items) {
            // Only a view whose width changed since its size was read can have moved.
            if (item.mode == Item::Mode::Free && item.view->width() != item.intrinsicWidth
                && contains(item.view) && AppKit::intrinsicContentSize(item.view) != item.intrinsic)
                return true;
        }
        return false;
    }

    void prepare(ConstraintLayout* layout)
    {
        itemFor(holder, layout);
        for (const auto& c : constraints)
            install(c, layout);
        for (auto& [w, item] : items)
            refresh(item);
        solver.updateVariables();
    }
};

} // namespace Tickerly::AppKit

#include "platform/appkit/ConstraintLayout.h"

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/LinearSolver.h"
#include "platform/foundation/MainQueue.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

// Weights: each 200 points of priority is a factor of ten, so 750 outweighs 250 about 300
// times over, while the whole range stays well inside double precision for the simplex.
double weightOf(LayoutPriority p)
{
    if (p >= LayoutPriorities::Required)
        return linear::strength::required;
    return std::pow(10.0, std::max(0.0f, p) / 200.0);
}

// The holder's size and the frames of views placed by their parent: firmer than any
// non-required priority.
constexpr double kFixedFrame = 1.0e6;
// Where nothing else decides, a free view keeps its frame.
constexpr double kStay = 0.1;
// How firmly the fitting size pulls the holder towards zero (a low priority of 50).
const double kFitting = weightOf(50.0f);

linear::Relation relationOf(LayoutRelation r)
{
    switch (r) {
    case LayoutRelation::LessThanOrEqual:
        return linear::Relation::LessOrEqual;
    case LayoutRelation::GreaterThanOrEqual:
        return linear::Relation::GreaterOrEqual;
    case LayoutRelation::Equal:
        break;
    }
    return linear::Relation::Equal;
}

} // namespace

struct ConstraintLayout::Engine {
    struct Item {
        QWidget* view = nullptr;
        bool isHolder = false;
        linear::Variable left, top, width, height;
        enum class Mode { None, Fixed, Free } mode = Mode::None;
        double suggested[4] = { std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::quiet_NaN() };
        QSize intrinsic { -1, -1 };
        LayoutPriority priorities[4] = { -1, -1, -1, -1 }; // hug h, hug v, comp h, comp v
        std::vector<linear::Solver::ConstraintId> intrinsicIds;

        linear::Variable* vars() { return &left; }
    };
    struct Installed {
        linear::Solver::ConstraintId id = 0;
        bool inSolver = false;
        bool warned = false;
    };

    QWidget* holder = nullptr;
    linear::Solver solver;
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
            solver.addConstraint(linear::Expression(item.left), linear::Relation::Equal,
                                 linear::strength::required);
            solver.addConstraint(linear::Expression(item.top), linear::Relation::Equal,
                                 linear::strength::required);
            solver.addEditVariable(item.width, kFixedFrame);
            solver.addEditVariable(item.height, kFixedFrame);
            item.mode = Item::Mode::Fixed;
        } else {
            QObject::connect(w, &QObject::destroyed, layout,
                             [layout, w] { layout->d->itemDestroyed(w); });
        }
        return item;
    }

    linear::Expression expressionOf(Item& item, LayoutAttribute a)
    {
        linear::Expression e;
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
        linear::Expression e = expressionOf(itemFor(first, layout), c->firstAttribute());
        if (usesSecond)
            e.add(expressionOf(itemFor(second, layout), c->secondAttribute()), -c->multiplier());
        e.constant -= c->constant();
        linear::Solver::ConstraintId id = 0;
        const linear::SolverError error
            = solver.addConstraint(e, relationOf(c->relation()), weightOf(c->priority()), &id);
        if (error != linear::SolverError::None) {
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
        QRect r = appkit::targetFrame(w);
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
        const Item::Mode want = appkit::translatesAutoresizingMaskIntoConstraints(w)
            ? Item::Mode::Fixed
            : Item::Mode::Free;
        if (want != item.mode) {
            if (item.mode != Item::Mode::None) {
                for (int i = 0; i < 4; ++i)
                    solver.removeEditVariable(item.vars()[i]);
            }
            for (int i = 0; i < 4; ++i) {
                solver.addEditVariable(item.vars()[i], want == Item::Mode::Fixed ? kFixedFrame : kStay);
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
            size = appkit::intrinsicContentSize(item.view);
            p[0] = appkit::contentHuggingPriority(item.view, LayoutOrientation::Horizontal);
            p[1] = appkit::contentHuggingPriority(item.view, LayoutOrientation::Vertical);
            p[2] = appkit::contentCompressionResistancePriority(item.view, LayoutOrientation::Horizontal);
            p[3] = appkit::contentCompressionResistancePriority(item.view, LayoutOrientation::Vertical);
        }
        if (size == item.intrinsic && std::equal(p, p + 4, item.priorities))
            return;
        for (auto id : item.intrinsicIds)
            solver.removeConstraint(id);
        item.intrinsicIds.clear();
        item.intrinsic = size;
        std::copy(p, p + 4, item.priorities);
        fittingValid = false;
        const auto add = [&](const linear::Variable& v, int value, linear::Relation r, LayoutPriority prio) {
            linear::Expression e(v);
            e.constant = -value;
            linear::Solver::ConstraintId id = 0;
            if (solver.addConstraint(e, r, weightOf(prio), &id) == linear::SolverError::None)
                item.intrinsicIds.push_back(id);
        };
        if (size.width() >= 0) {
            add(item.width, size.width(), linear::Relation::LessOrEqual, p[0]);
            add(item.width, size.width(), linear::Relation::GreaterOrEqual, p[2]);
        }
        if (size.height() >= 0) {
            add(item.height, size.height(), linear::Relation::LessOrEqual, p[1]);
            add(item.height, size.height(), linear::Relation::GreaterOrEqual, p[3]);
        }
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

ConstraintLayout* ConstraintLayout::of(QWidget* holder, bool create)
{
    if (!holder)
        return nullptr;
    QLayout* existing = holder->layout();
    if (auto* mine = qobject_cast<ConstraintLayout*>(existing))
        return mine;
    if (!create)
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

const LayoutConstraintList& ConstraintLayout::constraints() const
{
    return d->constraints;
}

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

bool ConstraintLayout::needsLayout() const
{
    return d->dirty;
}

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
    d->prepare(this);

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
        appkit::setFrame(item->view, r);
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
            appkit::invalidateIntrinsicContentSize(d->holder);
    }
    d->inPass = false;
}

QSize ConstraintLayout::fittingSize() const
{
    if (d->fittingValid)
        return d->fitting;
    auto* self = const_cast<ConstraintLayout*>(this);
    d->prepare(self);
    Engine::Item& holder = d->items.at(d->holder);
    linear::Solver& solver = d->solver;
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

void ConstraintLayout::invalidateFittingSize()
{
    d->fittingValid = false;
}

QSize ConstraintLayout::sizeHint() const
{
    return fittingSize();
}

QSize ConstraintLayout::minimumSize() const
{
    return QSize(0, 0);
}

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
        appkit::invalidateIntrinsicContentSize(d->holder);
    }
}

void ConstraintLayout::addItem(QLayoutItem* item)
{
    qWarning("ConstraintLayout places views by constraints only; the item is dropped");
    delete item;
}

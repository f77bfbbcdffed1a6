// The view-side operations of the layout layer and the constraint object itself.

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"

#include <QGraphicsOpacityEffect>

namespace Tickerly::AppKit {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr const char* kTranslates = "_appkit_translatesAutoresizingMask";
constexpr const char* kHugging[] = { "_appkit_huggingH", "_appkit_huggingV" };
constexpr const char* kCompression[] = { "_appkit_compressionH", "_appkit_compressionV" };

int indexOf(LayoutOrientation o) { return o == LayoutOrientation::Horizontal ? 0 : 1; }

LayoutPriority priorityProperty(const QWidget* view, const char* name, LayoutPriority fallback)
{
    if (!view)
        return fallback;
    const QVariant v = view->property(name);
    return v.isValid() ? v.toFloat() : fallback;
}

// Every constraint layout at or above `view` reads the view's state again at its next pass.
void layoutsAboveNeedLayout(QWidget* view)
{
    for (QWidget* w = view ? view->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (ConstraintLayout* l = ConstraintLayout::of(w, ConstraintLayout::Lookup::ExistingOnly))
            l->setNeedsLayout();
    }
}

void applyFrameNow(QWidget* view, const QRect& frame)
{
    const QSize before = view->size();
    view->setGeometry(frame);
    if (before != frame.size()) {
        if (ConstraintLayout* l
            = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly))
            l->layoutIfNeeded();
    }
}

QString nameOf(const QWidget* w)
{
    if (!w)
        return u"nil"_s;
    const QString name = w->objectName();
    return name.isEmpty() ? QString::fromLatin1(w->metaObject()->className()).section(u"::"_s, -1)
                          : name;
}

QString attributeName(LayoutAttribute a)
{
    switch (a) {
    case LayoutAttribute::Left:
        return u"left"_s;
    case LayoutAttribute::Right:
        return u"right"_s;
    case LayoutAttribute::Top:
        return u"top"_s;
    case LayoutAttribute::Bottom:
        return u"bottom"_s;
    case LayoutAttribute::Leading:
        return u"leading"_s;
    case LayoutAttribute::Trailing:
        return u"trailing"_s;
    case LayoutAttribute::Width:
        return u"width"_s;
    case LayoutAttribute::Height:
        return u"height"_s;
    case LayoutAttribute::CenterX:
        return u"centerX"_s;
    case LayoutAttribute::CenterY:
        return u"centerY"_s;
    case LayoutAttribute::NotAnAttribute:
        break;
    }
    return u"none"_s;
}

QWidget* commonAncestor(QWidget* a, QWidget* b)
{
    if (!b)
        return a;
    for (QWidget* w = a; w; w = w->parentWidget()) {
        if (w == b || w->isAncestorOf(b))
            return w;
    }
    return nullptr;
}

} // namespace

LayoutConstraintRef LayoutConstraint::create(QWidget* firstItem, LayoutAttribute firstAttribute,
    LayoutRelation relation, QWidget* secondItem, LayoutAttribute secondAttribute,
    double multiplier, double constant)
{
    auto c = LayoutConstraintRef(new LayoutConstraint);
    c->m_first = firstItem;
    c->m_firstAttribute = firstAttribute;
    c->m_relation = relation;
    c->m_second = secondItem;
    c->m_hadSecond = secondItem != nullptr;
    c->m_secondAttribute = secondItem ? secondAttribute : LayoutAttribute::NotAnAttribute;
    c->m_multiplier = multiplier;
    c->m_constant = constant;
    return c;
}

void LayoutConstraint::setConstant(double constant)
{
    if (constant == m_constant)
        return;
    m_constant = constant;
    if (m_layout)
        m_layout->constraintChanged(this);
}

void LayoutConstraint::setPriority(LayoutPriority priority)
{
    if (priority == m_priority)
        return;
    m_priority = priority;
    if (m_layout)
        m_layout->constraintChanged(this);
}

void LayoutConstraint::setActive(bool active)
{
    if (active == isActive())
        return;
    if (!active) {
        m_layout->removeConstraint(shared_from_this());
        return;
    }
    QWidget* holder = m_lastHolder;
    if (!holder)
        holder = commonAncestor(m_first, m_second);
    if (!holder) {
        qWarning().noquote() << "Constraint" << description()
                             << "has no common ancestor of its views; it stays inactive";
        return;
    }
    ConstraintLayout::of(holder)->addConstraint(shared_from_this());
}

QWidget* LayoutConstraint::holder() const { return m_layout ? m_layout->parentWidget() : nullptr; }

QString LayoutConstraint::description() const
{
    static const char* relations[] = { "<=", "==", ">=" };
    QString text = nameOf(m_first) + u'.' + attributeName(m_firstAttribute) + u' '
        + QString::fromLatin1(relations[static_cast<int>(m_relation) + 1]) + u' ';
    if (m_secondAttribute != LayoutAttribute::NotAnAttribute) {
        if (m_multiplier != 1.0)
            text += QString::number(m_multiplier) + u" * "_s;
        text += nameOf(m_second) + u'.' + attributeName(m_secondAttribute) + u" + "_s;
    }
    text += QString::number(m_constant);
    if (m_priority < LayoutPriorities::Required)
        text += u" @"_s + QString::number(m_priority);
    return text;
}

void setTranslatesAutoresizingMaskIntoConstraints(QWidget* view, bool on)
{
    if (!view || translatesAutoresizingMaskIntoConstraints(view) == on)
        return;
    view->setProperty(kTranslates, on);
    layoutsAboveNeedLayout(view);
}

bool translatesAutoresizingMaskIntoConstraints(const QWidget* view)
{
    const QVariant v = view ? view->property(kTranslates) : QVariant();
    return !v.isValid() || v.toBool();
}

void setContentHuggingPriority(
    QWidget* view, LayoutPriority priority, LayoutOrientation orientation)
{
    if (!view)
        return;
    view->setProperty(kHugging[indexOf(orientation)], priority);
    layoutsAboveNeedLayout(view);
}

LayoutPriority contentHuggingPriority(const QWidget* view, LayoutOrientation orientation)
{
    return priorityProperty(view, kHugging[indexOf(orientation)], LayoutPriorities::DefaultLow);
}

void setContentCompressionResistancePriority(
    QWidget* view, LayoutPriority priority, LayoutOrientation orientation)
{
    if (!view)
        return;
    view->setProperty(kCompression[indexOf(orientation)], priority);
    layoutsAboveNeedLayout(view);
}

LayoutPriority contentCompressionResistancePriority(
    const QWidget* view, LayoutOrientation orientation)
{
    return priorityProperty(
        view, kCompression[indexOf(orientation)], LayoutPriorities::DefaultHigh);
}

QSize intrinsicContentSize(const QWidget* view)
{
    if (!view)
        return QSize(-1, -1);
    QSize hint = view->sizeHint();
    // Wrapping text: as tall as it needs at the width it has.
    if (view->hasHeightForWidth() && view->width() > 0)
        hint.setHeight(view->heightForWidth(view->width()));
    return QSize(hint.width() >= 0 ? hint.width() : -1, hint.height() >= 0 ? hint.height() : -1);
}

void invalidateIntrinsicContentSize(QWidget* view)
{
    if (!view)
        return;
    if (ConstraintLayout* own = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly))
        own->invalidateFittingSize();
    layoutsAboveNeedLayout(view);
    view->updateGeometry();
}

void addConstraint(QWidget* view, const LayoutConstraintRef& constraint)
{
    if (view && constraint)
        ConstraintLayout::of(view)->addConstraint(constraint);
}

void addConstraints(QWidget* view, const LayoutConstraintList& constraints)
{
    if (!view)
        return;
    ConstraintLayout* layout = ConstraintLayout::of(view);
    for (const auto& c : constraints)
        layout->addConstraint(c);
}

void removeConstraint(QWidget* view, const LayoutConstraintRef& constraint)
{
    if (ConstraintLayout* layout
        = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly))
        layout->removeConstraint(constraint);
}

void removeConstraints(QWidget* view, const LayoutConstraintList& constraints)
{
    for (const auto& c : constraints)
        removeConstraint(view, c);
}

LayoutConstraintList constraints(const QWidget* view)
{
    ConstraintLayout* layout
        = ConstraintLayout::of(const_cast<QWidget*>(view), ConstraintLayout::Lookup::ExistingOnly);
    return layout ? layout->constraints() : LayoutConstraintList();
}

void setNeedsLayout(QWidget* view)
{
    if (ConstraintLayout* layout
        = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly))
        layout->setNeedsLayout();
}

void layoutSubtreeIfNeeded(QWidget* view)
{
    if (!view)
        return;
    if (ConstraintLayout* layout
        = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly))
        layout->layoutIfNeeded();
    for (QObject* child : view->children()) {
        if (child->isWidgetType())
            layoutSubtreeIfNeeded(static_cast<QWidget*>(child));
    }
}

void setFrame(QWidget* view, const QRect& frame)
{
    if (!view)
        return;
    const QVariant running = AnimationContext::animationTarget(view, "geometry");
    if (running.isValid() ? running.toRect() == frame : view->geometry() == frame)
        return;
    QPointer<QWidget> guard(view);
    AnimationContext::animateValue(
        view, "geometry", view->geometry(), frame, [guard](const QVariant& v) {
            if (guard)
                applyFrameNow(guard, v.toRect());
        });
}

QRect targetFrame(const QWidget* view)
{
    if (!view)
        return {};
    const QVariant running = AnimationContext::animationTarget(view, "geometry");
    return running.isValid() ? running.toRect() : view->geometry();
}

void setOpacity(QWidget* view, double value)
{
    if (!view)
        return;
    value = std::clamp(value, 0.0, 1.0);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    const double current = effect ? effect->opacity() : 1.0;
    QPointer<QWidget> guard(view);
    AnimationContext::animateValue(view, "opacity", current, value, [guard](const QVariant& v) {
        if (!guard)
            return;
        auto* e = qobject_cast<QGraphicsOpacityEffect*>(guard->graphicsEffect());
        if (!e) {
            if (v.toDouble() >= 1.0)
                return; // fully opaque needs no effect
            e = new QGraphicsOpacityEffect(guard);
            guard->setGraphicsEffect(e);
        }
        e->setOpacity(v.toDouble());
    });
}

double opacity(const QWidget* view)
{
    if (!view)
        return 1.0;
    const QVariant running = AnimationContext::animationTarget(view, "opacity");
    if (running.isValid())
        return running.toDouble();
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

} // namespace Tickerly::AppKit

#include "app/shell/ScrollView.h"

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/foundation/base/MainQueue.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

namespace {

// Resistance past the ends: the further out, the less each point of finger travel moves.
constexpr double kRubberBand = 0.55;
// How long the list takes to spring back after a gesture that ended past an end.
constexpr double kBounceDuration = 0.25;
constexpr double kQuietTime = 0.2;
// Three lines of a list per notch.
constexpr double kWheelStep = 48;

std::optional<bool> s_quietEnds;

double resisted(double overshoot, double dimension)
{
    return (1.0 - 1.0 / (overshoot * kRubberBand / dimension + 1.0)) * dimension;
}

double unresisted(double offset, double dimension)
{
    offset = std::min(offset, dimension * 0.999);
    return dimension / kRubberBand * (1.0 / (1.0 - offset / dimension) - 1.0);
}

struct Range {
    double minY;
    double maxY;
    double dimension;
};

// The origins at rest, and the size the resistance past them is measured against.
Range verticalRange(const ClipView* clip)
{
    const QRectF document = clip->documentRect();
    const double minY = document.y();
    return { minY, std::max(minY, document.y() + document.height() - clip->height()),
        static_cast<double>(std::max(1, clip->height())) };
}

} // namespace

// ClipView

ClipView::ClipView(QWidget* parent)
    : QWidget(parent)
    , m_surface(new QWidget(this))
{
    m_surface->installEventFilter(this);
}

ClipView::~ClipView() = default;

void ClipView::setDocumentView(QWidget* view)
{
    if (view == m_documentView)
        return;
    delete m_documentView.data();
    m_documentView = view;
    if (view) {
        view->setParent(m_surface);
        view->lower();
        view->show();
        view->installEventFilter(this);
    }
    layout();
}

void ClipView::addSubview(QWidget* view)
{
    view->setParent(m_surface);
    view->raise();
    view->show();
    placeSurface();
}

void ClipView::setBoundsOrigin(const QPointF& origin)
{
    QPointer<ClipView> self(this);
    AnimationContext::animateValue(
        this, "boundsOrigin", m_origin, origin, [self](const QVariant& value) {
            if (!self)
                return;
            self->m_origin = value.toPointF();
            self->placeSurface();
        });
}

QRectF ClipView::documentRect() const
{
    const int h = documentHeight();
    return QRectF(0, 0, width(), std::max(h, height()));
}

QPointF ClipView::constrainBoundsOrigin(const QPointF& origin) const
{
    const QRectF document = documentRect();
    const double maxX = document.x() + document.width() - width();
    const double maxY = document.y() + document.height() - height();
    return QPointF(std::max(document.x(), std::min(origin.x(), maxX)),
        std::max(document.y(), std::min(origin.y(), maxY)));
}

void ClipView::scrollPoint(const QPointF& point) { setBoundsOrigin(constrainBoundsOrigin(point)); }

void ClipView::layout()
{
    if (m_inLayout)
        return;
    m_inLayout = true;
    if (m_documentView)
        m_documentView->setGeometry(0, 0, width(), documentHeight());
    if (!m_elastic) {
        const QVariant heading = AnimationContext::animationTarget(this, "boundsOrigin");
        const QPointF current = heading.isValid() ? heading.toPointF() : m_origin;
        const QPointF constrained = constrainBoundsOrigin(current);
        if (constrained != current)
            setBoundsOrigin(constrained);
    }
    placeSurface();
    m_inLayout = false;
}

void ClipView::placeSurface()
{
    const int x = static_cast<int>(std::lround(m_origin.x()));
    const int y = static_cast<int>(std::lround(m_origin.y()));
    int h = std::max(documentHeight(), y + height());
    for (const QObject* child : m_surface->children()) {
        if (const auto* w = qobject_cast<const QWidget*>(child))
            h = std::max(h, w->geometry().bottom() + 1);
    }
    const QRect frame(-x, -y, width(), h);
    if (m_surface->geometry() == frame)
        return;
    const bool resized = m_surface->size() != frame.size();
    m_surface->setGeometry(frame);
    // Views pinned to the document by constraints follow its new width.
    if (resized) {
        for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
            if (ConstraintLayout* holder
                = ConstraintLayout::of(w, ConstraintLayout::Lookup::ExistingOnly))
                holder->setNeedsLayout();
        }
    }
}

int ClipView::documentHeight() const
{
    if (!m_documentView)
        return 0;
    if (m_documentView->hasHeightForWidth())
        return std::max(0, m_documentView->heightForWidth(width()));
    return std::max(0, m_documentView->sizeHint().height());
}

void ClipView::resizeEvent(QResizeEvent*) { layout(); }

void ClipView::showEvent(QShowEvent*)
{
    // The document's size requests are not posted while the clip view is hidden.
    layout();
}

bool ClipView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest
        && (watched == m_surface || watched == m_documentView))
        layout();
    return QWidget::eventFilter(watched, event);
}

// ScrollView

ScrollView::ScrollView(QWidget* parent)
    : QWidget(parent)
    , m_contentView(new ClipView(this))
{
}

ScrollView::~ScrollView() = default;

void ScrollView::setContentView(ClipView* clipView)
{
    if (!clipView || clipView == m_contentView)
        return;
    QWidget* document = m_contentView->documentView();
    if (document)
        document->setParent(nullptr);
    delete m_contentView;
    m_contentView = clipView;
    clipView->setParent(this);
    clipView->setGeometry(rect());
    clipView->lower();
    clipView->show();
    clipView->setDocumentView(document);
}

QWidget* ScrollView::documentView() const { return m_contentView->documentView(); }

void ScrollView::setDocumentView(QWidget* view) { m_contentView->setDocumentView(view); }

void ScrollView::setEndsGesturesAfterQuietTime(bool on) { s_quietEnds = on; }

bool ScrollView::endsGesturesAfterQuietTime()
{
    // X11 reports no phases for wheels or touchpads.
    return s_quietEnds.value_or(QGuiApplication::platformName() == u"xcb"_s);
}

double ScrollView::quietTime() { return kQuietTime; }

double ScrollView::wheelStep() { return kWheelStep; }

void ScrollView::resizeEvent(QResizeEvent*) { m_contentView->setGeometry(rect()); }

void ScrollView::wheelEvent(QWheelEvent* event)
{
    ScrollEvent scroll;
    scroll.precise = !event->pixelDelta().isNull();
    scroll.delta = scroll.precise ? QPointF(event->pixelDelta())
                                  : QPointF(event->angleDelta()) / 120.0 * kWheelStep;
    switch (event->phase()) {
    case Qt::NoScrollPhase:
        break;
    case Qt::ScrollBegin:
        m_sawMomentum = false;
        scroll.phase = ScrollEvent::Began;
        break;
    case Qt::ScrollUpdate:
        scroll.phase = ScrollEvent::Changed;
        break;
    case Qt::ScrollMomentum:
        scroll.momentumPhase = m_sawMomentum ? ScrollEvent::Changed : ScrollEvent::Began;
        m_sawMomentum = true;
        break;
    case Qt::ScrollEnd:
        // Qt ends a fling with one end after its momentum: that end is the momentum's, the
        // finger left the pad before.
        if (m_sawMomentum)
            scroll.momentumPhase = ScrollEvent::Ended;
        else
            scroll.phase = ScrollEvent::Ended;
        m_sawMomentum = false;
        break;
    }
    event->accept();
    handle(scroll);
}

void ScrollView::handle(const ScrollEvent& event)
{
    QPointer<ScrollView> self(this);
    scrollWheel(event);
    if (!self)
        return;
    if ((event.phase & (ScrollEvent::Ended | ScrollEvent::Cancelled))
        || (event.momentumPhase & ScrollEvent::Ended))
        settle();
}

void ScrollView::scrollWheel(const ScrollEvent& event)
{
    const double dy = event.delta.y();
    const bool phaseless
        = event.phase == ScrollEvent::None && event.momentumPhase == ScrollEvent::None;
    if (phaseless && !endsGesturesAfterQuietTime()) {
        followDelta(dy, false);
        return;
    }
    if (!m_inGesture
        && (phaseless || (event.phase & (ScrollEvent::Began | ScrollEvent::Changed))
            || (event.momentumPhase & (ScrollEvent::Began | ScrollEvent::Changed)))) {
        m_inGesture = true;
        m_phaselessGesture = phaseless;
        m_contentView->setElastic(true);
        // Continue from where the list is, also in the middle of a bounce.
        const QPointF origin = m_contentView->boundsOrigin();
        m_contentView->setBoundsOrigin(origin);
        const auto [minY, maxY, dimension] = verticalRange(m_contentView);
        m_rawY = origin.y() < minY ? minY - unresisted(minY - origin.y(), dimension)
            : origin.y() > maxY    ? maxY + unresisted(origin.y() - maxY, dimension)
                                   : origin.y();
    }
    if (m_inGesture)
        followDelta(dy, true);
    if (phaseless)
        armQuietTimer();
}

void ScrollView::followDelta(double dy, bool elastic)
{
    if (dy == 0)
        return;
    ClipView* clip = m_contentView;
    if (!elastic) {
        clip->setBoundsOrigin(clip->constrainBoundsOrigin(clip->boundsOrigin() - QPointF(0, dy)));
        return;
    }
    m_rawY -= dy;
    const auto [minY, maxY, dimension] = verticalRange(clip);
    const double y = m_rawY < minY ? minY - resisted(minY - m_rawY, dimension)
        : m_rawY > maxY            ? maxY + resisted(m_rawY - maxY, dimension)
                                   : m_rawY;
    clip->setBoundsOrigin(QPointF(clip->boundsOrigin().x(), y));
}

void ScrollView::armQuietTimer()
{
    const std::uint64_t generation = ++m_quietGeneration;
    QPointer<ScrollView> self(this);
    MainQueue::dispatchAfter(
        kQuietTime,
        [self, generation] {
            // Only the list springs back: a pause is no lifted finger, so it ends no gesture a
            // subclass acts on (a wheel never pulls to refresh).
            if (self && self->m_quietGeneration == generation && self->m_phaselessGesture)
                self->settle();
        },
        this);
}

void ScrollView::settle()
{
    m_inGesture = false;
    m_phaselessGesture = false;
    ++m_quietGeneration;
    ClipView* clip = m_contentView;
    clip->setElastic(false);
    const QPointF target = clip->constrainBoundsOrigin(clip->boundsOrigin());
    if (target == clip->boundsOrigin())
        return;
    AnimationContext::runAnimationGroup([clip, target](AnimationContext& context) {
        context.setDuration(kBounceDuration);
        context.setTimingFunction(AnimationContext::easeOut());
        context.setAllowsImplicitAnimation(true);
        clip->setBoundsOrigin(target);
    });
}

} // namespace Tickerly::App

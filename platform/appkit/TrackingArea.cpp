#include "platform/appkit/TrackingArea.h"

#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>

#include <optional>

namespace Tickerly::AppKit {

using namespace Qt::Literals::StringLiterals;

TrackingArea::TrackingArea(const QRectF& rect, unsigned options, TrackingAreaOwner* owner)
    : m_rect(rect)
    , m_options(options)
    , m_owner(owner)
    , m_ownerLifetime(owner ? std::weak_ptr<int>(owner->m_lifetime) : std::weak_ptr<int>())
{
}

// The tracking areas of one view: a child of the view that watches its pointer events.
class TrackingAreas : public QObject {
public:
    explicit TrackingAreas(QWidget* view)
        : QObject(view)
        , m_view(view)
    {
        setObjectName(kName);
        view->installEventFilter(this);
        // Moves without a button held arrive only with tracking on.
        view->setMouseTracking(true);
        if (view->underMouse())
            m_pointer = QPointF(view->mapFromGlobal(QCursor::pos()));
    }

    static TrackingAreas* of(const QWidget* view, bool create)
    {
        if (!view)
            return nullptr;
        for (QObject* child : view->children()) {
            if (child->objectName() == kName) {
                if (auto* areas = dynamic_cast<TrackingAreas*>(child))
                    return areas;
            }
        }
        return create ? new TrackingAreas(const_cast<QWidget*>(view)) : nullptr;
    }

    void add(const TrackingAreaRef& area)
    {
        if (m_areas.contains(area))
            return;
        area->m_inside = sees(*area);
        m_areas.append(area);
    }

    void remove(const TrackingAreaRef& area) { m_areas.removeAll(area); }
    const QList<TrackingAreaRef>& areas() const { return m_areas; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_view)
            return false;
        switch (event->type()) {
        case QEvent::Enter:
            m_pointer = static_cast<QEnterEvent*>(event)->position();
            update();
            break;
        case QEvent::MouseMove:
            m_pointer = static_cast<QMouseEvent*>(event)->position();
            update();
            break;
        case QEvent::Leave:
        case QEvent::Hide:
            m_pointer.reset();
            update();
            break;
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
            update();
            break;
        default:
            break;
        }
        return false;
    }

private:
    static constexpr QLatin1StringView kName { "_appkit_trackingAreas" };

    bool sees(const TrackingArea& area) const
    {
        if (!m_pointer)
            return false;
        if ((area.options() & TrackingArea::ActiveInKeyWindow) && !m_view->isActiveWindow())
            return false;
        return area.rect().contains(*m_pointer);
    }

    void update()
    {
        // An owner may replace areas from inside its callback.
        const QList<TrackingAreaRef> areas = m_areas;
        for (const TrackingAreaRef& area : areas) {
            if (!m_areas.contains(area))
                continue;
            const bool inside = sees(*area);
            if (inside == area->m_inside)
                continue;
            area->m_inside = inside;
            if (!(area->options() & TrackingArea::MouseEnteredAndExited) || !area->owner())
                continue;
            if (inside)
                area->owner()->mouseEntered();
            else
                area->owner()->mouseExited();
        }
    }

    QWidget* m_view;
    QList<TrackingAreaRef> m_areas;
    std::optional<QPointF> m_pointer;
};

void addTrackingArea(QWidget* view, const TrackingAreaRef& area)
{
    if (view && area)
        TrackingAreas::of(view, true)->add(area);
}

void removeTrackingArea(QWidget* view, const TrackingAreaRef& area)
{
    if (TrackingAreas* areas = TrackingAreas::of(view, false))
        areas->remove(area);
}

QList<TrackingAreaRef> trackingAreas(const QWidget* view)
{
    const TrackingAreas* areas = TrackingAreas::of(view, false);
    return areas ? areas->areas() : QList<TrackingAreaRef> {};
}

} // namespace Tickerly::AppKit

#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QList>
#include <QRectF>

#include <memory>

class QWidget;

namespace Tickerly::AppKit {

// What a tracking area tells when the pointer crosses its edge. Areas outlive their owners
// (the view holds them), so an owner that is gone, or being torn down, is told nothing.
class TrackingAreaOwner {
public:
    virtual ~TrackingAreaOwner() = default;
    virtual void mouseEntered() { }
    virtual void mouseExited() { }

private:
    friend class TrackingArea;
    // Ends with this base, so from then on areas see the owner as gone.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

// A rectangle of a view (in the view's coordinates) that tells its owner when the pointer
// enters and leaves it. Installed with AppKit::addTrackingArea(); the view holds it until it is
// removed or the view goes. A new area takes the pointer's current place as its starting state
// and says nothing about it. With ActiveInKeyWindow it sees the pointer only while the view's
// window is the active one, and reports an exit when that window stops being active.
// Main thread only.
class TICKERLYAPPKIT_EXPORT TrackingArea {
public:
    enum Option : unsigned {
        MouseEnteredAndExited = 0x01,
        ActiveInKeyWindow = 0x20,
    };

    TrackingArea(const QRectF& rect, unsigned options, TrackingAreaOwner* owner);

    QRectF rect() const { return m_rect; }
    unsigned options() const { return m_options; }
    // Null once the owner is gone.
    TrackingAreaOwner* owner() const { return m_ownerLifetime.expired() ? nullptr : m_owner; }
    // Whether the pointer is inside as far as the area has seen.
    bool isInside() const { return m_inside; }

private:
    friend class TrackingAreas;
    QRectF m_rect;
    unsigned m_options;
    TrackingAreaOwner* m_owner;
    std::weak_ptr<int> m_ownerLifetime;
    bool m_inside = false;
};

using TrackingAreaRef = std::shared_ptr<TrackingArea>;

TICKERLYAPPKIT_EXPORT void addTrackingArea(QWidget* view, const TrackingAreaRef& area);
TICKERLYAPPKIT_EXPORT void removeTrackingArea(QWidget* view, const TrackingAreaRef& area);
TICKERLYAPPKIT_EXPORT QList<TrackingAreaRef> trackingAreas(const QWidget* view);

} // namespace Tickerly::AppKit

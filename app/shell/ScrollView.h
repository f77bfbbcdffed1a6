#pragma once

#include "app/Namespace.h"

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <cstdint>

class QWheelEvent;

namespace Tickerly::App {

// One scroll event as the scroll views see it: the distance in points (positive y moves the
// content down, towards the document's top) and the gesture phases. Touchpads on desktops that
// report phases give a begin, changes, an end and perhaps momentum; an ordinary mouse wheel
// gives neither phase.
struct ScrollEvent {
    // Phase bits, numbered as the platform numbers them.
    enum Phase : unsigned {
        None = 0,
        Began = 0x1,
        Stationary = 0x2,
        Changed = 0x4,
        Ended = 0x8,
        Cancelled = 0x10,
        MayBegin = 0x20,
    };

    QPointF delta;
    unsigned phase = None;
    unsigned momentumPhase = None;
    // Pixel deltas of a touchpad rather than steps of a wheel.
    bool precise = false;
};

// The visible part of a scroll view's document. Its bounds origin is the document point shown
// at its top-left corner; subviews added with addSubview() live in document coordinates and
// move with it. Main thread only; owned by its scroll view.
class ClipView : public QWidget {
    Q_OBJECT
public:
    explicit ClipView(QWidget* parent = nullptr);
    ~ClipView() override;

    QWidget* documentView() const { return m_documentView; }
    // Takes ownership; the document is as wide as the clip view and as high as it asks to be.
    void setDocumentView(QWidget* view);
    // Adds `view` in document coordinates, above the document view.
    void addSubview(QWidget* view);
    // The widget that holds the document and the views added beside it.
    QWidget* documentSurface() const { return m_surface; }

    QRectF bounds() const { return QRectF(m_origin, QSizeF(size())); }
    QPointF boundsOrigin() const { return m_origin; }
    // Moves the shown part; animated inside an animation group that allows it. Not constrained.
    void setBoundsOrigin(const QPointF& origin);

    // The part of the document that scrolling may show: the document view's frame, at least
    // as large as the clip view.
    virtual QRectF documentRect() const;
    // The nearest origin whose bounds lie inside documentRect (its top edge wins when the
    // document is shorter than the clip view).
    QPointF constrainBoundsOrigin(const QPointF& origin) const;
    // Shows `point` at the top-left corner, as far as documentRect allows.
    void scrollPoint(const QPointF& point);

    // While set, layout leaves an origin outside documentRect alone (an elastic gesture or its
    // bounce owns the origin).
    void setElastic(bool elastic) { m_elastic = elastic; }
    bool isElastic() const { return m_elastic; }

    // Places the document and its neighbours, and pulls the origin back into documentRect
    // unless an elastic gesture owns it.
    virtual void layout();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeSurface();
    int documentHeight() const;

    QWidget* m_surface;
    QPointer<QWidget> m_documentView;
    QPointF m_origin;
    bool m_elastic = false;
    bool m_inLayout = false;
};

// A scroll view over one clip view: wheel and touchpad scrolling, elastic past both ends of
// the document with a touchpad, plain steps with a wheel. Where the desktop reports no
// phases, the switch setEndsGesturesAfterQuietTime() makes phaseless scrolling elastic too: a
// short pause after the last event springs the list back, with no end event. Main thread only.
class ScrollView : public QWidget {
    Q_OBJECT
public:
    explicit ScrollView(QWidget* parent = nullptr);
    ~ScrollView() override;

    // The clip view (a plain ClipView unless one is installed).
    ClipView* contentView() const { return m_contentView; }
    // Takes ownership of `clipView` and moves the current document into it.
    void setContentView(ClipView* clipView);
    QWidget* documentView() const;
    void setDocumentView(QWidget* view);

    // Scrolls for one event. Subclasses that override it call this first.
    virtual void scrollWheel(const ScrollEvent& event);

    // The switch for desktops without phases; on by default under X11.
    static void setEndsGesturesAfterQuietTime(bool on);
    static bool endsGesturesAfterQuietTime();
    // How long the pause is, in seconds.
    static double quietTime();

    // Points one wheel notch moves.
    static double wheelStep();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void handle(const ScrollEvent& event);
    void followDelta(double dy, bool elastic);
    void settle();
    void armQuietTimer();

    ClipView* m_contentView = nullptr;
    // Where the finger would have put the origin without the resistance past the ends.
    double m_rawY = 0;
    bool m_inGesture = false;
    bool m_sawMomentum = false;
    bool m_phaselessGesture = false;
    std::uint64_t m_quietGeneration = 0;
};

} // namespace Tickerly::App

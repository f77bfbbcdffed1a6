#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>

class QMouseEvent;

namespace Tickerly::AppKit {

// Recognises a drag with the left mouse button over a view and everything inside it: the
// press arms it, a move of at least `threshold` points from the press begins the pan, further
// moves change it, the release ends it. Escape, the window losing focus, the view hiding or a
// second button cancel it. A press released before the threshold is left alone, so it stays
// a click of whatever was under the pointer; once a pan has begun, the moves and the release
// no longer reach the views below and no button under the pointer reports a click.
//
// The action runs on every change of state (began, changed, ended, cancelled). Made for one
// view, which owns it; main thread only.
class TICKERLYAPPKIT_EXPORT PanGestureRecognizer : public QObject {
    Q_OBJECT
public:
    // Raw values as the platform numbers them.
    enum class State {
        Possible = 0,
        Began = 1,
        Changed = 2,
        Ended = 3,
        Cancelled = 4,
        Failed = 5,
    };
    using Action = std::function<void(PanGestureRecognizer*)>;

    // Points the pointer must travel from the press before a drag counts as a pan.
    static constexpr qreal threshold = 4;

    // Watches `view` and its descendants, present and future; `view` becomes the owner.
    PanGestureRecognizer(QWidget* view, Action action);
    ~PanGestureRecognizer() override;

    QWidget* view() const { return m_view; }
    State state() const { return m_state; }
    // How far the pointer has moved since the press, in the coordinates of `view` (views here
    // are never scaled or rotated, so this is the same in every view).
    QPointF translationInView(const QWidget* view) const;
    // Makes the current pointer position read as `translation`.
    void setTranslation(const QPointF& translation, const QWidget* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QObject* object);
    // The mouse's steps; true when the event is taken.
    bool pressed(QObject* watched, QMouseEvent* mouse);
    bool moved(QObject* watched, QMouseEvent* mouse);
    void released(QObject* watched, QMouseEvent* mouse);
    void setState(State state);
    void begin();
    void cancel();
    void reset();

    QPointer<QWidget> m_view;
    Action m_action;
    State m_state = State::Possible;
    bool m_armed = false;
    QPointF m_start;
    QPointF m_current;
    QObject* m_escapeWatcher;
};

} // namespace Tickerly::AppKit

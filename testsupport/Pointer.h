#pragma once

#include "testsupport/Namespace.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace Tickerly::TestSupport {

// A mouse driven by synthesised events over one window, as the window system delivers them:
// the press goes to the deepest widget under the pointer, which then receives every move and
// the release until the button goes up (an ignored event travels on to the parents).
// Positions are in window coordinates and may be fractional.
class Pointer {
public:
    explicit Pointer(QWidget* window)
        : m_window(window)
    {
    }

    void press(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        QWidget* under = m_window->childAt(at.toPoint());
        m_grabber = under ? under : m_window.data();
        m_buttons |= button;
        send(QEvent::MouseButtonPress, at, button);
    }
    void move(QPointF to) { send(QEvent::MouseMove, to, Qt::NoButton); }
    void release(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        m_buttons &= ~button;
        send(QEvent::MouseButtonRelease, at, button);
        if (!m_buttons)
            m_grabber = nullptr;
    }
    // Press at `from`, move there by `dx` in `steps` equal moves, release at the end.
    void drag(QPointF from, qreal dx, int steps = 4)
    {
        press(from);
        for (int i = 1; i <= steps; ++i)
            move(from + QPointF(dx * i / steps, 0));
        release(from + QPointF(dx, 0));
    }
    void click(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        press(at, button);
        release(at, button);
    }

private:
    void send(QEvent::Type type, QPointF at, Qt::MouseButton button)
    {
        QWidget* target = m_grabber ? m_grabber.data() : m_window.data();
        // Whole-point offsets, so fractions survive (the window system maps through integers).
        const QPointF global = at + m_window->mapToGlobal(QPoint(0, 0));
        const QPointF local = at - target->mapTo(m_window.data(), QPoint(0, 0));
        QMouseEvent event(type, local, at, global, button, m_buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_grabber;
    Qt::MouseButtons m_buttons;
};

} // namespace Tickerly::TestSupport

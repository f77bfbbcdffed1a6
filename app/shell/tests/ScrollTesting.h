#pragma once

#include "app/Namespace.h"
#include "app/shell/ScrollView.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QWheelEvent>
#include <QWidget>

namespace Tickerly::App {

// Synthesised wheel and touchpad events, sent to the scroll view that takes them.
namespace ScrollTesting {

inline void deliver(QWidget* scrollView, QWheelEvent& event)
{
    QApplication::sendEvent(scrollView, &event);
}

// A touchpad event: a pixel delta (positive y pulls the list down) in a phase.
inline void touchpad(
    QWidget* scrollView, QPoint delta, Qt::ScrollPhase phase, QPoint at = { 40, 40 })
{
    QWheelEvent event(at, scrollView->mapToGlobal(at), delta, delta * 2, Qt::NoButton,
        Qt::NoModifier, phase, false);
    deliver(scrollView, event);
}

// `notches` steps of an ordinary mouse wheel (positive: towards the document's top), no phase.
inline void wheel(QWidget* scrollView, int notches, QPoint at = { 40, 40 })
{
    QWheelEvent event(at, scrollView->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    deliver(scrollView, event);
}

inline double originY(const ClipView* clip) { return clip->boundsOrigin().y(); }

} // namespace ScrollTesting

} // namespace Tickerly::App

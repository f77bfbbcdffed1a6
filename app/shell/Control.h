#pragma once

#include "app/Namespace.h"
#include "platform/appkit/TrackingArea.h"

#include <QWidget>

class QLabel;

namespace Tickerly::App {

// The base of the application's self-drawn controls. It carries the target and action as one
// signal (whoever is connected is the target), turns left-button presses and releases into
// mouseDown() and mouseUp(), runs layout() after every size change (and before the first
// show), and owns the enter and exit calls of the tracking areas it installs. Made with a zero
// frame; its owner or the scene that makes it sizes it. Main thread only; owned by its parent.
class Control : public QWidget, public AppKit::TrackingAreaOwner {
    Q_OBJECT
public:
    explicit Control(QWidget* parent = nullptr);

    // Emits `action` with this control as sender; false when no one is connected.
    bool sendAction();

Q_SIGNALS:
    void action(Control* sender);

protected:
    // Sends the action; false when its target deleted this control meanwhile.
    bool sendActionAndSurvive();
    // Replaces `area` (when set) by a new one over the bounds that reports entering and
    // leaving while the window is active.
    void replaceTrackingArea(AppKit::TrackingAreaRef& area);
    // A plain-text title that lets presses through to the control.
    QLabel* makeTitleLabel(const QString& text, const QColor& color);
    static void setTextColor(QLabel* label, const QColor& color);

    virtual void layout() { }
    virtual void mouseDown(QMouseEvent*) { }
    virtual void mouseUp(QMouseEvent*) { }

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace Tickerly::App

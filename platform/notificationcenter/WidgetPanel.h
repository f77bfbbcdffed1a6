#pragma once

#include "platform/notificationcenter/Namespace.h"
#include "platform/notificationcenter/WidgetProviding.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QScrollArea;

namespace Tickerly::WidgetHost {

// The widget host's panel: a frameless window at the right edge of the screen, on top of
// other windows and left out of the task bar, that reserves its strip of the screen's edge
// where the window manager honours docks, and shows one widget's view under its title.
// It asks the widget for its margins and to update each time the panel comes into view, and
// follows the view's height (scrolling it when it is taller than the screen).
//
// Main thread; owns the widget's view controller, and deletes the view before the controller.
class WidgetPanel : public QWidget {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "velmora.Tickerly.WidgetHost")
public:
    static constexpr int panelWidth = 320;
    static constexpr int titleHeight = 30;
    // Space between the panel and the screen's edges.
    static constexpr int screenGap = 8;
    static constexpr WidgetInterface::EdgeInsets proposedMarginInsets { 0, 8, 8, 8 };

    WidgetPanel(
        std::unique_ptr<WidgetInterface::WidgetViewController> controller, const QString& title);
    ~WidgetPanel() override;

    QWidget* widgetView() const { return m_view; }
    WidgetInterface::EdgeInsets marginInsets() const { return m_insets; }
    int completedUpdates() const { return m_completedUpdates; }

public Q_SLOTS:
    // Shows the panel, or brings it back when it is hidden (another start of the host asks
    // this over the session bus).
    Q_SCRIPTABLE void Show();

Q_SIGNALS:
    void updateCompleted(WidgetInterface::NCUpdateResult result);
    // The person asked the host to end (Ctrl+Q in the panel).
    void quitRequested();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void followView();
    void scheduleFollow();
    void requestUpdate();

    std::unique_ptr<WidgetInterface::WidgetViewController> m_controller;
    QPointer<QWidget> m_view;
    QScrollArea* m_scrollArea = nullptr;
    QString m_title;
    WidgetInterface::EdgeInsets m_insets;
    bool m_inView = false;
    bool m_followScheduled = false;
    int m_completedUpdates = 0;
    // What the panel asked the window manager to keep other windows out of, from the right.
    int m_reservedWidth = 0;
};

} // namespace Tickerly::WidgetHost

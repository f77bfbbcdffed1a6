#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QList>
#include <QString>
#include <QWidget>

class QMenuBar;

namespace Tickerly::AppKit {

// The notification posted on the default centre, from the window's own thread, while a
// top-level window closes (after its close was accepted, before it is hidden from view).
// The object is the window (see TopLevelWindow::notificationObject).
TICKERLYAPPKIT_EXPORT extern const QString windowWillCloseNotification;
// Posted on the default centre after a window's size changed; the object is the window.
TICKERLYAPPKIT_EXPORT extern const QString windowDidResizeNotification;

// A program window: a top-level widget with a content view and, on desktops without a global
// menu, a menu bar of its own. It opens no larger than the available area of its screen.
//
// It keeps the window's style as state. The window manager draws the decorations on Linux, so
// what has no Qt counterpart (a full-size content view, a hidden title, a transparent title
// bar) is recorded here and changes nothing on screen; the title stays the task switcher's.
class TICKERLYAPPKIT_EXPORT TopLevelWindow : public QWidget {
    Q_OBJECT
public:
    enum StyleMaskBit : unsigned {
        Borderless = 0,
        Titled = 1u << 0,
        Closable = 1u << 1,
        Miniaturizable = 1u << 2,
        Resizable = 1u << 3,
        FullSizeContentView = 1u << 15,
    };
    enum class TitleVisibility { Visible = 0, Hidden = 1 };

    // What a window is made from when it is not built from a content rectangle: the settings
    // as they were saved, taken over unchanged.
    struct Settings {
        // Its size is the window's; the window manager places it.
        QRect frame;
        QString title;
        unsigned styleMask = Titled | Closable | Miniaturizable | Resizable;
        TitleVisibility titleVisibility = TitleVisibility::Visible;
        bool titlebarAppearsTransparent = false;
    };

    explicit TopLevelWindow(const Settings& settings);
    ~TopLevelWindow() override;

    unsigned styleMask() const { return m_styleMask; }
    void setStyleMask(unsigned mask);
    TitleVisibility titleVisibility() const { return m_titleVisibility; }
    void setTitleVisibility(TitleVisibility visibility) { m_titleVisibility = visibility; }
    bool titlebarAppearsTransparent() const { return m_titlebarTransparent; }
    void setTitlebarAppearsTransparent(bool transparent) { m_titlebarTransparent = transparent; }

    // The widget that fills the window below its menu bar; the window owns it. Null for none.
    QWidget* contentView() const { return m_contentView; }
    void setContentView(QWidget* view);

    // Takes ownership; replaces any earlier menu bar.
    void setMenuBar(QMenuBar* menuBar);
    QMenuBar* menuBar() const { return m_menuBar; }

    // A child window lies over this window's content, above it, and moves with it. Here it is
    // embedded (a child widget placed in this window's coordinates), since not every window
    // system lets a program place or carry a window of its own. The child stays owned by
    // whoever owned it; removing it takes it off screen.
    void addChildWindow(TopLevelWindow* child);
    void removeChildWindow(TopLevelWindow* child);
    QList<TopLevelWindow*> childWindows() const;

    // The identity the window posts its notifications with.
    const void* notificationObject() const { return this; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shrinks the window (and its minimum size) to what the screen's available area holds
    // with `frame` around it.
    void fitToScreen(const QMargins& frame);
    // Once shown: a frame that reaches past the available area is shrunk and moved inside. Done
    // again when the window moves while its frame is not known yet.
    void keepFrameOnScreen();

    unsigned m_styleMask = 0;
    TitleVisibility m_titleVisibility = TitleVisibility::Visible;
    bool m_titlebarTransparent = false;
    QWidget* m_contentView = nullptr;
    QMenuBar* m_menuBar = nullptr;
    bool m_checkFrame = false;
};

} // namespace Tickerly::AppKit

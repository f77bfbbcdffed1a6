#include "platform/appkit/Namespace.h"
#include "TopLevelWindow.h"

#include "platform/foundation/base/NotificationCenter.h"

#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

const QString windowWillCloseNotification = u"NSWindowWillCloseNotification"_s;
const QString windowDidResizeNotification = u"NSWindowDidResizeNotification"_s;

TopLevelWindow::TopLevelWindow(const Settings& settings)
    : QWidget(nullptr, Qt::Window)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setWindowTitle(settings.title);
    // The size only: where a window first opens is the window manager's to choose. Asking
    // for a corner of the screen would put a decorated window's title bar above it.
    if (settings.frame.isValid())
        resize(settings.frame.size());
    setStyleMask(settings.styleMask);
    m_titleVisibility = settings.titleVisibility;
    m_titlebarTransparent = settings.titlebarAppearsTransparent;
}

TopLevelWindow::~TopLevelWindow() = default;

void TopLevelWindow::setStyleMask(unsigned mask)
{
    m_styleMask = mask;
    // Only what the window manager can honour reaches it.
    Qt::WindowFlags flags = Qt::Window;
    if (mask == Borderless) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
        if (mask & Closable)
            flags |= Qt::WindowCloseButtonHint;
        if (mask & Miniaturizable)
            flags |= Qt::WindowMinimizeButtonHint;
        if (mask & Resizable)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    if (flags != windowFlags()) {
        const bool wasVisible = isVisible();
        setWindowFlags(flags);
        if (wasVisible)
            show();
    }
}

void TopLevelWindow::setContentView(QWidget* view)
{
    if (view == m_contentView)
        return;
    delete m_contentView;
    m_contentView = view;
    if (view)
        layout()->addWidget(view);
}

void TopLevelWindow::setMenuBar(QMenuBar* menuBar)
{
    if (menuBar == m_menuBar)
        return;
    delete m_menuBar;
    m_menuBar = menuBar;
    if (menuBar)
        menuBar->setParent(this);
    layout()->setMenuBar(menuBar);
}

namespace {

QMargins frameAround(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
        frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

// The frame another framed window of the program has, as the best guess for a window about to
// be framed (the window manager tells its own frame only once it has put one around it).
QMargins framesSeen(const QWidget* except)
{
    for (QWidget* other : QApplication::topLevelWidgets()) {
        if (other != except && other->isVisible() && !frameAround(other).isNull())
            return frameAround(other);
    }
    return {};
}

} // namespace

void TopLevelWindow::fitToScreen(const QMargins& frame)
{
    QScreen* on = screen();
    if (!on || isMaximized() || isFullScreen())
        return;
    const QRect area = on->availableGeometry();
    const QSize room = area.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    const QSize fitted = size().boundedTo(room);
    if (fitted != size()) {
        // The content lays itself out in what there is, below the size it asked for.
        setMinimumSize(minimumSize().boundedTo(fitted));
        resize(fitted);
    }
}

void TopLevelWindow::keepFrameOnScreen()
{
    QWindow* handle = windowHandle();
    QScreen* on = screen();
    if (!handle || !on || isMaximized() || isFullScreen())
        return;
    // Asked of the window system, not the widget's copy: that copy, and where the widget thinks
    // it stands, can lag behind the window manager's framing on a busy machine, and a move made
    // from them puts the title bar above the screen.
    const QMargins frame = handle->frameMargins();
    const QRect area = on->availableGeometry();
    fitToScreen(frame);
    const QRect outer = handle->geometry().marginsAdded(frame);
    if (!area.contains(outer)) {
        // The frame's corner is placed, so the window manager puts the title bar below it.
        handle->setFramePosition(
            QPoint(std::clamp(outer.left(), area.left(),
                       std::max(area.left(), area.right() + 1 - outer.width())),
                std::clamp(outer.top(), area.top(),
                    std::max(area.top(), area.bottom() + 1 - outer.height()))));
    }
    // Until a frame is known, the window may still be framed: look again when it moves.
    m_checkFrame = frame.isNull();
}

bool TopLevelWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The first exposure after opening is the first moment the frame can be known; a window
    // manager that frames it later moves it.
    if (watched == windowHandle() && m_checkFrame && windowHandle()->isExposed()
        && (event->type() == QEvent::Expose || event->type() == QEvent::Move)) {
        m_checkFrame = false;
        keepFrameOnScreen();
    }
    return QWidget::eventFilter(watched, event);
}

bool TopLevelWindow::event(QEvent* event)
{
    // Sent before the window is mapped: it opens no larger than its screen, frame included.
    if (event->type() == QEvent::Show && !event->spontaneous() && isWindow()) {
        fitToScreen(framesSeen(this));
        if (QWindow* handle = windowHandle()) {
            handle->removeEventFilter(this);
            handle->installEventFilter(this);
            m_checkFrame = true;
        }
    }
    const bool handled = QWidget::event(event);
    // After closeEvent, so a subclass that refuses the close posts nothing.
    if (event->type() == QEvent::Close && event->isAccepted())
        NotificationCenter::defaultCenter().post(windowWillCloseNotification, notificationObject());
    else if (event->type() == QEvent::Resize)
        NotificationCenter::defaultCenter().post(windowDidResizeNotification, notificationObject());
    return handled;
}

void TopLevelWindow::addChildWindow(TopLevelWindow* child)
{
    if (!child || child == this)
        return;
    child->setParent(this, Qt::Widget);
    child->raise();
    child->show();
}

void TopLevelWindow::removeChildWindow(TopLevelWindow* child)
{
    if (!child || child->parentWidget() != this)
        return;
    child->hide();
    child->setParent(nullptr, Qt::Window);
}

QList<TopLevelWindow*> TopLevelWindow::childWindows() const
{
    return findChildren<TopLevelWindow*>(Qt::FindDirectChildrenOnly);
}

} // namespace Tickerly::AppKit

#include "TopLevelWindow.h"

#include "platform/foundation/NotificationCenter.h"

#include <QEvent>
#include <QMenuBar>
#include <QVBoxLayout>

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

bool TopLevelWindow::event(QEvent* event)
{
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

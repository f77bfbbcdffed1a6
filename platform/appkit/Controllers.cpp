#include "platform/appkit/Namespace.h"
#include "Controllers.h"

#include "Storyboard.h"
#include "TopLevelWindow.h"

#include <QHash>

namespace Tickerly::AppKit {

namespace {

QHash<QString, ViewController::Interface>& interfaces()
{
    static QHash<QString, ViewController::Interface> registry;
    return registry;
}

} // namespace

ViewController::ViewController(QObject* parent)
    : QObject(parent)
{
}

ViewController::ViewController(std::optional<QString> nibName, QObject* parent)
    : QObject(parent)
    , m_nibName(std::move(nibName))
{
}

void ViewController::registerInterface(const QString& name, Interface interface)
{
    interfaces().insert(name, std::move(interface));
}

bool ViewController::hasInterface(const QString& name) { return interfaces().contains(name); }

ViewController::~ViewController()
{
    // A view that never went into a window is still ours.
    if (m_view && !m_view->parent())
        delete m_view.data();
}

QWidget* ViewController::view()
{
    // An interface that asks for the view while it is being made gets none rather than a loop.
    if (!m_view && m_loading)
        return nullptr;
    if (!m_view) {
        m_loading = true;
        loadView();
        m_loading = false;
    }
    if (!m_view)
        m_view = new QWidget;
    if (!m_viewDidLoadSent) {
        m_viewDidLoadSent = true;
        viewDidLoad();
    }
    return m_view;
}

void ViewController::setView(QWidget* view)
{
    if (m_view == view)
        return;
    if (m_view && !m_view->parent())
        delete m_view.data();
    m_view = view;
}

void ViewController::loadView()
{
    if (m_nibName && interfaces().contains(*m_nibName))
        setView(interfaces().value(*m_nibName)(this));
    else
        m_view = new QWidget;
}

std::optional<Storyboard> ViewController::storyboard() const
{
    return m_storyboardName ? Storyboard::named(*m_storyboardName) : std::nullopt;
}

WindowController::WindowController(TopLevelWindow* window, QObject* parent)
    : QObject(parent)
    , m_window(window)
{
}

WindowController::~WindowController()
{
    // The window goes first: it owns the content view, which the view controller only watches.
    delete m_window.data();
    m_contentViewController.reset();
}

TopLevelWindow* WindowController::window()
{
    if (m_window && !m_windowDidLoadSent) {
        m_windowDidLoadSent = true;
        windowDidLoad();
    }
    return m_window;
}

TopLevelWindow* WindowController::existingWindow() const { return m_window; }

void WindowController::setWindow(TopLevelWindow* window)
{
    if (window == m_window)
        return;
    delete m_window.data();
    m_window = window;
    installContentView();
}

void WindowController::setContentViewController(std::unique_ptr<ViewController> controller)
{
    if (m_window && m_contentViewController)
        m_window->setContentView(nullptr);
    m_contentViewController = std::move(controller);
    installContentView();
}

void WindowController::installContentView()
{
    if (m_window && m_contentViewController)
        m_window->setContentView(m_contentViewController->view());
}

std::optional<Storyboard> WindowController::storyboard() const
{
    return m_storyboardName ? Storyboard::named(*m_storyboardName) : std::nullopt;
}

void WindowController::showWindow(QObject*)
{
    TopLevelWindow* shown = window();
    if (!shown)
        return;
    if (!shown->isVisible() && m_contentViewController)
        m_contentViewController->viewWillAppear();
    if (shown->isMinimized())
        shown->showNormal();
    else
        shown->show();
    shown->raise();
    shown->activateWindow();
}

void WindowController::close()
{
    if (TopLevelWindow* closing = window())
        closing->close();
}

} // namespace Tickerly::AppKit

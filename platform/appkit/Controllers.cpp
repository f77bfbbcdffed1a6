#include "Controllers.h"

#include "Storyboard.h"
#include "TopLevelWindow.h"

ViewController::ViewController(QObject* parent)
    : QObject(parent)
{
}

ViewController::~ViewController()
{
    // A view that never went into a window is still ours.
    if (m_view && !m_view->parent())
        delete m_view.data();
}

QWidget* ViewController::view()
{
    if (!m_view)
        loadView();
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

void ViewController::loadView() { m_view = new QWidget; }

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

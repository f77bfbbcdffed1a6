#include "Application.h"

#include "app/shell/AppDelegate.h"
#include "app/shell/StoriesViewController.h"
#include "app/sources/SourcesViewController.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QApplication>
#include <QTimer>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

namespace {

Application* sharedApplication = nullptr;

} // namespace

Application::Application(QObject* parent)
    : QObject(parent)
{
    sharedApplication = this;
    setup();
}

Application::~Application()
{
    if (sharedApplication == this)
        sharedApplication = nullptr;
}

Application* Application::shared() { return sharedApplication; }

void Application::setup()
{
    NotificationCenter::defaultCenter().addObserver(this, windowWillCloseNotification, nullptr,
        [this](const Notification& notification) { windowWillClose(notification); });
}

void Application::setStoriesWindowController(std::shared_ptr<WindowController> controller)
{
    m_stories = std::move(controller);
}

void Application::setSourcesWindowController(std::shared_ptr<WindowController> controller)
{
    m_sources = std::move(controller);
}

void Application::setPreferencesWindowController(std::shared_ptr<WindowController> controller)
{
    m_preferences = std::move(controller);
}

void Application::finishLaunching()
{
    if (!m_delegate)
        return;
    QGuiApplication::setQuitOnLastWindowClosed(
        m_delegate->applicationShouldTerminateAfterLastWindowClosed());
    connect(qApp, &QCoreApplication::aboutToQuit, m_delegate,
        &AppDelegate::applicationWillTerminate, Qt::UniqueConnection);
    m_delegate->applicationDidFinishLaunching();
}

int Application::run()
{
    QTimer::singleShot(0, this, &Application::finishLaunching);
    return QApplication::exec();
}

void Application::windowWillClose(const Notification& notification)
{
    if (!notification.object)
        return;
    // At most one property lets go, compared in this order.
    for (auto* property : { &m_stories, &m_sources, &m_preferences }) {
        const std::shared_ptr<WindowController>& controller = *property;
        if (!controller || !controller->window())
            continue;
        if (controller->window()->notificationObject() == notification.object) {
            property->reset();
            return;
        }
    }
}

void Application::toggle(std::shared_ptr<WindowController>& property, const QString& storyboardName)
{
    if (property) {
        // Closing lets go of the property from inside the close already; the controller itself
        // is released later.
        const std::shared_ptr<WindowController> closing = property;
        closing->close();
        property.reset();
        return;
    }
    const auto storyboard = Storyboard::named(storyboardName);
    property = storyboard
        ? controllerCast<WindowController>(storyboard->instantiateInitialController())
        : nullptr;
    if (property)
        property->showWindow(this);
}

void Application::openStoriesWindow(QObject*) { toggle(m_stories, u"Stories"_s); }

void Application::openSourcesWindow(QObject*) { toggle(m_sources, u"Sources"_s); }

void Application::openPreferencesWindow(QObject*) { toggle(m_preferences, u"Preferences"_s); }

void Application::installHelp(QObject* sender)
{
    // An open sources window is left where it is; a closed one opens first.
    if (!m_sources)
        openSourcesWindow(sender);
    if (!m_sources)
        return;
    if (auto* list = qobject_cast<SourcesViewController*>(m_sources->contentViewController()))
        list->toggleInstallationView(sender);
}

void Application::refreshStories(QObject*)
{
    if (!m_stories)
        return;
    if (auto* stories = qobject_cast<StoriesViewController*>(m_stories->contentViewController()))
        stories->refresh();
}

} // namespace Tickerly::App

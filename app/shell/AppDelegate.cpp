#include "AppDelegate.h"

#include "app/shell/LaunchUpdates.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Storyboard.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setWindowController(std::shared_ptr<WindowController> controller)
{
    m_windowController = std::move(controller);
}

void AppDelegate::applicationDidFinishLaunching()
{
    const auto storyboard = Storyboard::named(u"Sources"_s);
    m_windowController = storyboard
        ? controllerCast<WindowController>(storyboard->instantiateInitialController())
        : nullptr;
    if (m_windowController)
        m_windowController->showWindow(this);
    const LaunchUpdates updates = launchUpdates();
    if (updates.updateSourceNames)
        updates.updateSourceNames();
    if (updates.updateTopFeeds)
        updates.updateTopFeeds();
}

} // namespace Tickerly::App

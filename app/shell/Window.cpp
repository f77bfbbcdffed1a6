#include "app/Namespace.h"
#include "Window.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;

namespace {

TopLevelWindow::Settings fromContentRect(const QRect& contentRect, unsigned styleMask)
{
    TopLevelWindow::Settings settings;
    settings.frame = contentRect;
    settings.styleMask = styleMask;
    return settings;
}

} // namespace

Window::Window(const QRect& contentRect, unsigned styleMask)
    : TopLevelWindow(fromContentRect(contentRect, styleMask))
{
    setStyleMask(this->styleMask() | FullSizeContentView);
    setTitleVisibility(TitleVisibility::Hidden);
    setTitlebarAppearsTransparent(true);
}

Window::Window(const Settings& saved)
    : TopLevelWindow(saved)
{
}

} // namespace Tickerly::App

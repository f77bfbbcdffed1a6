#pragma once

#include "app/Namespace.h"
#include "platform/appkit/TopLevelWindow.h"

namespace Tickerly::App {

// The program's window: its content reaches under a hidden title on a transparent title bar.
class Window : public AppKit::TopLevelWindow {
    Q_OBJECT
public:
    // A new window of `contentRect` with every flag of `styleMask`, plus the full-size content
    // view, a hidden title and a transparent title bar.
    Window(const QRect& contentRect, unsigned styleMask);
    // A window restored from saved settings keeps them as they were.
    explicit Window(const Settings& saved);
};

} // namespace Tickerly::App

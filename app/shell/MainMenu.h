#pragma once

#include "app/Namespace.h"

namespace Tickerly::AppKit {
class TopLevelWindow;
} // namespace Tickerly::AppKit

namespace Tickerly::App {

// Gives `window` the program's menu: the window toggles, the help and refresh actions, closing
// the window and quitting, with the usual shortcuts. On a desktop with a global menu bar the
// menu goes there. Every item reaches the application object when it is chosen, and does
// nothing when there is none.
void installMainMenu(AppKit::TopLevelWindow* window);

} // namespace Tickerly::App

#pragma once

#include "app/Namespace.h"

#include <memory>

class QObject;

namespace Tickerly::App {

class Window;

// The initial scene of the storyboard "Preferences": a window controller over `window` whose
// content is a PreferencesViewController with every outlet and action connected.
std::shared_ptr<QObject> preferencesScene(Window* window);

} // namespace Tickerly::App

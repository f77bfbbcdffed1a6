#pragma once

#include "app/Namespace.h"

namespace Tickerly::App {

// Registers the program's storyboards: "Sources", "Stories" and "Preferences".
void registerApplicationStoryboards();

} // namespace Tickerly::App

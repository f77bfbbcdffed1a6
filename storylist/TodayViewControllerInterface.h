#pragma once

#include "storylist/Namespace.h"

namespace Tickerly::StoryList {

// Registers the interface "TodayViewController": the widget's story list view (table, expand
// button, progress wheel) with its controller connected. Main thread; more calls change nothing.
void registerTodayViewControllerInterface();

} // namespace Tickerly::StoryList

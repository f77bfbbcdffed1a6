#pragma once

#include "app/Namespace.h"

#include <memory>

class QObject;

namespace Tickerly::StoryList {
class TodayView;
} // namespace Tickerly::StoryList

namespace Tickerly::App {

class StoriesViewController;
class Window;

// The stories list's view as the storyboard "Stories" makes it: the story table (`owner` its
// delegate) as the document of an elastic WidgetScrollView with its WidgetClipView and refresh
// strip, the controller's `scrollView` outlet connected. No expand button: the list is always
// expanded.
StoryList::TodayView* storiesView(StoriesViewController* owner);

// The initial scene of the storyboard "Stories": a window controller over `window` whose
// content is a StoriesViewController.
std::shared_ptr<QObject> storiesScene(Window* window);

} // namespace Tickerly::App

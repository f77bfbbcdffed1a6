#pragma once

#include "app/Namespace.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace Tickerly::AppKit {
class TopLevelWindow;
} // namespace Tickerly::AppKit

namespace Tickerly::App {

// The initial scene of the storyboard "Sources": a SourcesWindowController over `window`, with
// the sources list as its content and, in the band above the list, the search field, the
// spinner and the buttons to the stories and preferences windows, outlets connected.
std::shared_ptr<QObject> sourcesWindowScene(AppKit::TopLevelWindow* window);

// Registers the storyboard `name` with that scene and the popular-feeds panel's scenes.
void registerSourcesStoryboard(
    const QString& name, std::function<AppKit::TopLevelWindow*()> makeWindow);

} // namespace Tickerly::App

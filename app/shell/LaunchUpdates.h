#pragma once

#include "app/Namespace.h"

#include <functional>

namespace Tickerly::App {

// The two refreshes of server data that start when the program has launched: the table of
// source display names and the popular feeds. Each starts its work and returns at once; its
// outcome is not looked at.
struct LaunchUpdates {
    std::function<void()> updateSourceNames;
    std::function<void()> updateTopFeeds;
};

const LaunchUpdates& launchUpdates();
// Replaces the updates (tests count them or point them at loopback); returns the previous.
LaunchUpdates setLaunchUpdates(LaunchUpdates updates);

} // namespace Tickerly::App

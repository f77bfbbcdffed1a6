#include "LaunchUpdates.h"

#include <utility>

namespace {

LaunchUpdates& installed()
{
    static LaunchUpdates updates { [] {}, [] {} };
    return updates;
}

} // namespace

const LaunchUpdates& launchUpdates() { return installed(); }

LaunchUpdates setLaunchUpdates(LaunchUpdates updates)
{
    return std::exchange(installed(), std::move(updates));
}

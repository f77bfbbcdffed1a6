#include "app/Namespace.h"
#include "LaunchUpdates.h"

#include "data/discovery/TopFeedsSync.h"

#include <utility>

namespace Tickerly::App {

using namespace Tickerly::Data;

namespace {

LaunchUpdates& installed()
{
    static LaunchUpdates updates { [] { SourceNamesSync::update(); },
        [] { TopFeedsSync::update(); } };
    return updates;
}

} // namespace

const LaunchUpdates& launchUpdates() { return installed(); }

LaunchUpdates setLaunchUpdates(LaunchUpdates updates)
{
    return std::exchange(installed(), std::move(updates));
}

} // namespace Tickerly::App

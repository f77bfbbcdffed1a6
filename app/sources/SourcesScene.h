#pragma once

#include "app/Namespace.h"

#include <memory>

namespace Tickerly::App {

class SourcesViewController;

// The height of the band at the top of the sources view where the window's search field goes.
inline constexpr int kSearchBandHeight = 56;

// The content of the storyboard "Sources" below its search field: a SourcesViewController
// whose SourcesView holds the sources table (cell prototype "row"), the welcome screen over it
// and the installation help at the bottom edge, outlets connected and objects woken. The band
// for the search field is an empty view named "searchBand" at the top.
std::unique_ptr<SourcesViewController> makeSourcesViewController();

} // namespace Tickerly::App

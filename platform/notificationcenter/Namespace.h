#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

namespace Tickerly::WidgetInterface {
} // namespace Tickerly::WidgetInterface

namespace Tickerly::WidgetHost {
using namespace Tickerly::WidgetInterface;
} // namespace Tickerly::WidgetHost

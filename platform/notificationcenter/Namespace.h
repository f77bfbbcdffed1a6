#pragma once

// The namespaces of the widget interface and of its host; the host names what it uses of the
// interface.

namespace Tickerly::WidgetInterface {
} // namespace Tickerly::WidgetInterface

namespace Tickerly::WidgetHost {
} // namespace Tickerly::WidgetHost

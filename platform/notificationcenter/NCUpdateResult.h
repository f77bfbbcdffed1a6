#pragma once

#include "platform/notificationcenter/Namespace.h"

namespace Tickerly::WidgetInterface {

// What a widget reports at the end of an update that the widget host asked for.
enum class NCUpdateResult {
    NewData,
    NoData,
    Failed,
};

} // namespace Tickerly::WidgetInterface

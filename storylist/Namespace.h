#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

#include "platform/appkit/Namespace.h"
#include "platform/notificationcenter/Namespace.h"
#include "data/Namespace.h"

namespace Tickerly::StoryList {
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::Data;
} // namespace Tickerly::StoryList

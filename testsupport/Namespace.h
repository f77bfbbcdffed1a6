#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

#include "platform/appkit/Namespace.h"
#include "data/Namespace.h"

namespace Tickerly::TestSupport {
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
} // namespace Tickerly::TestSupport

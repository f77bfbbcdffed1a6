#pragma once

// The namespace of the library in this folder. Its headers name what they use of the libraries
// below qualified; its .cpp files open the using-directives they need.

#include "platform/appkit/Namespace.h"
#include "data/Namespace.h"

namespace Tickerly::TestSupport {
} // namespace Tickerly::TestSupport

#pragma once

// The namespace of the library in this folder; it names what it uses of the libraries below.

#include "platform/foundation/Namespace.h"

namespace Tickerly::AppKit {
} // namespace Tickerly::AppKit

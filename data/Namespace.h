#pragma once

// The namespace of the library in this folder; it names what it uses of the libraries below.

#include "api/Namespace.h"

namespace Tickerly::Data {
} // namespace Tickerly::Data

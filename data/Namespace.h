#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

#include "api/Namespace.h"

namespace Tickerly::Data {
using namespace Tickerly::API;
} // namespace Tickerly::Data

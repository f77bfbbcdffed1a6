#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

#include "platform/linkwork/Namespace.h"

namespace Tickerly::API {
using namespace Tickerly::Linkwork;
} // namespace Tickerly::API

#pragma once

// The namespace of the library in this folder; it names what it uses of the libraries below.

#include "platform/linkwork/Namespace.h"

namespace Tickerly::API {
} // namespace Tickerly::API

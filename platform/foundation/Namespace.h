#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

namespace Tickerly::Foundation {
} // namespace Tickerly::Foundation

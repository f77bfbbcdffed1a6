#pragma once

// The namespace of the library in this folder, and the libraries below it whose names
// its code uses as they are.

#include "storylist/Namespace.h"

namespace Tickerly::App {
using namespace Tickerly::StoryList;
} // namespace Tickerly::App

#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QtGlobal>

#include <optional>

namespace Tickerly::Data {

// What the user has done with a story. A new state replaces the earlier one; states are never
// combined. The numbers are stored.
enum class StoryState : int {
    None = 0,
    Read = 1,
    Deleted = 2,
    ReadAndDeleted = 3,
};

// The state of a stored number, or nothing for a number outside 0 to 3.
inline std::optional<StoryState> storyStateFromRawValue(qint64 rawValue)
{
    if (rawValue < 0 || rawValue > 3)
        return std::nullopt;
    return static_cast<StoryState>(rawValue);
}

inline int rawValue(StoryState state) { return static_cast<int>(state); }

} // namespace Tickerly::Data

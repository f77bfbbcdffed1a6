#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QString>

#include <functional>

namespace Tickerly::AppKit {

// Plays one of the program's own sounds (":/sounds/<name>", "Add feed.wav") and returns at
// once; false when there is no such sound. Without an audio device it stays silent. Main
// thread only.
TICKERLYAPPKIT_EXPORT bool playSound(const QString& name);

// Tests hear what would be played: while a player is installed, it gets the name of each sound
// that exists instead of the speakers. Returns the previous player (none is the speakers).
using SoundPlayer = std::function<void(const QString& name)>;
TICKERLYAPPKIT_EXPORT SoundPlayer setSoundPlayer(SoundPlayer player);

} // namespace Tickerly::AppKit

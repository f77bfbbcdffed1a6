#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QImage>
#include <QString>
#include <QStringList>

namespace Tickerly::AppKit {

// A named picture of the program's own resources (":/images/<name>.png", drawn at build time
// by tools/resgen): "story close", "default icon", "Wave_00042". A null image when there is
// none, never a failure. Any thread; pictures are read once and kept.
TICKERLYAPPKIT_EXPORT QImage imageNamed(const QString& name);

// The same picture, read afresh and not kept unless it is kept already: for the frames of a
// long sequence, of which only the one on screen need stay in memory.
TICKERLYAPPKIT_EXPORT QImage imageNamedUncached(const QString& name);

// Whether there is such a picture, found without reading it.
TICKERLYAPPKIT_EXPORT bool hasImageNamed(const QString& name);

// Test hook: the names of the pictures kept now, in no particular order.
TICKERLYAPPKIT_EXPORT QStringList keptImageNames();

} // namespace Tickerly::AppKit

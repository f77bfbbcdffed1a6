#pragma once

#include "tickerlyappkit_export.h"

#include <QImage>
#include <QString>

// A named picture of the program's own resources (":/images/<name>.png", drawn at build time
// by tools/resgen): "story close", "default icon", "Wave_00042". A null image when there is
// none, never a failure. Any thread; pictures are read once and kept.
TICKERLYAPPKIT_EXPORT QImage imageNamed(const QString& name);

// Whether there is such a picture, found without reading it.
TICKERLYAPPKIT_EXPORT bool hasImageNamed(const QString& name);

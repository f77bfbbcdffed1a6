#pragma once

#include <QImage>
#include <QPainterPath>
#include <QString>

#include <functional>

// The generator's registry: each file of tools/resgen registers what it can draw, by the name
// of the file it writes ("story close.png"), or by a prefix for numbered families
// ("Wave_" covers "Wave_00000.png" to "Wave_00127.png").

// Writes the resource to `output`; false when it could not.
using ResourceWriter = std::function<bool(const QString& fileName, const QString& output)>;

bool registerResource(const QString& fileName, ResourceWriter writer);
bool registerResourceFamily(const QString& prefix, ResourceWriter writer);

// The common case: a picture saved as PNG.
bool registerImage(const QString& fileName, std::function<QImage()> draw);

// The outline |x|^n + |y|^n = 1 filling a square of `side` at the origin.
QPainterPath squirclePath(double side, double exponent = 5.0);

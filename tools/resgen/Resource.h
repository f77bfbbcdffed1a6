#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRectF>
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

// A numbered sequence drawn in one run ("Wave_%05i.png", 128 frames): the writer draws frame
// `index` of `count` to `output`. Run as: tickerly_resgen --sequence <pattern> <count> <dir>.
using SequenceWriter = std::function<bool(int index, int count, const QString& output)>;
bool registerSequence(const QString& pattern, SequenceWriter writer);

// The frame's file name: `pattern` with its one "%05i" (or "%i") replaced by `index`.
QString sequenceFileName(const QString& pattern, int index);

// The outline of a squircle (|x|^n + |y|^n = 1) filling `rect`.
QPainterPath squirclePath(const QRectF& rect, double exponent = 5.0);

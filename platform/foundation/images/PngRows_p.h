#pragma once

#include "platform/foundation/Namespace.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace Tickerly::Foundation {

// The non-interlaced PNG in `bytes`, of any colour type and depth, read row by row into
// `reduced` (no larger than the picture on either side), each pixel the mean of the stored
// pixels it covers: a few rows are held, never the whole picture. Opaque pictures come out as
// RGB32, others as premultiplied ARGB32. A null image when the bytes are damaged, cut short,
// interlaced, or larger than `maxSide` on a side. Safe from any thread.
QImage readPngReduced(const QByteArray& bytes, QSize reduced, int maxSide);

} // namespace Tickerly::Foundation

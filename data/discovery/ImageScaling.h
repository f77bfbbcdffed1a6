#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QImage>
#include <QSizeF>

namespace Tickerly::Data {

// Icon images: a picture scaled to fill a square and cut to the squircle outline. Plain
// functions of value images; any thread.

// The image scaled to cover `size` (one pixel per point, the size truncated to whole pixels),
// centred and cropped, and masked with the data library's "squirclemask" resource.
TICKERLYDATAMAC_EXPORT QImage scaleAndSquircle(const QImage& image, const QSizeF& size);

// As scaleAndSquircle with `maskImage` (none: no clipping). The mask's alpha is laid exactly
// over the drawing rectangle. A null result for an image without pixels or a size below one
// pixel (or not finite).
TICKERLYDATAMAC_EXPORT QImage scaleAndApplyMask(
    const QImage& image, const QSizeF& size, const QImage& maskImage = QImage());

} // namespace Tickerly::Data

#pragma once

#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QImage>

// The largest picture decoded from bytes of outside origin (downloads, stored archives): a
// small file can announce a huge picture, and story lists decode many at once.
inline constexpr int maxDecodedImageSide = 16384;
inline constexpr qint64 maxDecodedImagePixels = 40'000'000;
// Pictures kept in stored archives are small; larger ones are refused there.
inline constexpr int maxStoredImageSide = 1024;
// The most pixels of a picture whose format is read whole, never at a reduced size (GIF, ICO,
// BMP, gray, palette, 16-bit or interlaced PNG, progressive JPEG): its full size is held
// however small it is drawn.
inline constexpr qint64 maxWholeDecodedImagePixels = 4096 * 4096;

// The picture in `bytes` (PNG, JPEG, GIF, ICO, ...), or a null image when the bytes hold none
// or announce a picture larger than `maxSide` on a side or `maxDecodedImagePixels` in all, or
// one of more than `maxWholeDecodedImagePixels` in a format that is read whole. The size is read
// from the header (for GIF and ICO, of the canvas the decoder draws on) before any pixel memory is
// taken. Safe from any thread.
TICKERLYFOUNDATION_EXPORT QImage decodeImage(
    const QByteArray& bytes, int maxSide = maxDecodedImageSide);
// As decodeImage, for a use that draws the picture no larger than `cover`: a picture of more
// than `reduceAbove` pixels is read at the smallest size that still covers `cover`, its aspect
// kept, without its full size ever being held; one in a format that is read whole is read so
// and scaled, within `maxWholePixels`. Smaller pictures read as decodeImage reads them.
TICKERLYFOUNDATION_EXPORT QImage decodeImageToCover(const QByteArray& bytes, QSize cover,
    qint64 reduceAbove = 0, int maxSide = maxDecodedImageSide,
    qint64 maxWholePixels = maxWholeDecodedImagePixels);

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

// The picture in `bytes` (PNG, JPEG, GIF, ICO, ...), or a null image when the bytes hold none
// or announce a picture larger than `maxSide` on a side or `maxDecodedImagePixels` in all.
// The size is read from the header before any pixel memory is taken. Safe from any thread.
TICKERLYFOUNDATION_EXPORT QImage decodeImage(const QByteArray& bytes, int maxSide = maxDecodedImageSide);

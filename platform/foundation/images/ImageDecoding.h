#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

namespace Tickerly::Foundation {

// The largest picture decoded from bytes of outside origin (downloads, stored archives), whatever
// it is for: a small file can announce a huge picture, and story lists decode many at once.
inline constexpr int maxDecodedImageSide = 16384;
inline constexpr qint64 maxAnnouncedImagePixels = 40'000'000;
// Pictures kept in stored archives are small; larger ones are refused there.
inline constexpr int maxStoredImageSide = 1024;
// The most pixels of a picture held whole for a use that draws it small (icons, story pictures)
// when its format cannot be read at a reduced size (GIF, ICO, BMP, interlaced PNG): its full
// size is held however small it is drawn.
inline constexpr qint64 maxWholePixelsForSmallUse = 1024 * 1024;
// The same for a use that draws the picture at its own size.
inline constexpr qint64 maxWholePixelsForFullSizeUse = 4096 * 4096;

// The most a JPEG decoder may hold of coefficients: a progressive JPEG keeps every one of the
// whole picture until its last scan, whatever size it is read at (about 3 bytes a pixel for the
// usual colour sampling, 6 for full colour), so this bounds it, a 6000 by 4000 photo within.
// Such decodes take turns in a process.
inline constexpr qint64 maxJpegCoefficientBytes = 96 * 1024 * 1024;

// Why decodeImage gave a null image.
enum class ImageRefusal {
    None,
    NoPicture, // the bytes hold none the decoders read, or are damaged
    TooLarge, // the picture announced costs more than its use allows
};

// What a decoded picture is for: the size it is drawn at and what it may cost. Named fields, so
// that a call site says which number is which.
struct ImageUse {
    // The largest size the use draws the picture at, in pixels, as a cover (aspect kept, both
    // sides at least this); empty for a use that draws it at its own size.
    QSize cover {};
    // A picture of at most this many pixels is read at its own size even when drawn smaller.
    qint64 readWholeUpTo = 0;
    // The longest side accepted.
    int maxSide = maxDecodedImageSide;
    // The most pixels of a picture held at its full size.
    qint64 maxWholePixels = maxWholePixelsForFullSizeUse;
};

// The picture in `bytes` (PNG, JPEG, GIF, ICO, ...) as `use` needs it, upright as its Exif
// orientation says, or a null image when the bytes hold none or announce a picture larger than
// `use.maxSide` on a side or maxAnnouncedImagePixels in all, one of more than
// `use.maxWholePixels` that would be held at its full size (its format is read whole, or it is
// read at its own size), or a JPEG whose decoder would hold more than maxJpegCoefficientBytes. The
// size is read from the header (for GIF and ICO, of the canvas the decoder draws on) before any
// pixel memory is taken. `refusal`, when given, says why.
//
// With a cover, a picture of more than `use.readWholeUpTo` pixels is read at the smallest size
// that still covers it, its aspect kept, without its full size ever being held (PNG row by row,
// JPEG by the decoder's own scaling); one in a format that is read whole is read so and scaled.
// Safe from any thread.
TICKERLYFOUNDATION_EXPORT QImage decodeImage(
    const QByteArray& bytes, const ImageUse& use = {}, ImageRefusal* refusal = nullptr);

} // namespace Tickerly::Foundation

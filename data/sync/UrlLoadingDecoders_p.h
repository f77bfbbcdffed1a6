#pragma once

#include "data/Namespace.h"
#include "platform/foundation/images/ImageDecoding.h"
#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

namespace Tickerly::Data {

// How the loading operations turn a body into a value. Server input: each gives nothing rather
// than failing.
namespace UrlLoadingDecoders {
// The largest picture a story row draws, in points: the picture column by the row's height.
inline constexpr QSize storyPictureSize(50, 75);
// UTF-8 when the bytes are valid UTF-8, else each byte as the character of the same value.
TICKERLYDATAMAC_EXPORT std::optional<QString> text(const QByteArray& bytes);
// The top-level value when the bytes are one JSON document whose top level is an object.
TICKERLYDATAMAC_EXPORT std::optional<nlohmann::json> dictionary(const QByteArray& bytes);
// A story's picture as a row draws it: its middle in the row's shape, upright, no larger than
// storyPictureSize at `pixelRatio` pixels a point (a smaller one is kept whole); nothing for a
// picture that costs far more to read than a row could need (`refusal` says which).
TICKERLYDATAMAC_EXPORT std::optional<QImage> image(
    const QByteArray& bytes, qreal pixelRatio = 1, Foundation::ImageRefusal* refusal = nullptr);
// A site's icon: a picture far larger than any icon is read at a reduced size, or is no icon
// when its format is read whole.
TICKERLYDATAMAC_EXPORT std::optional<QImage> icon(
    const QByteArray& bytes, Foundation::ImageRefusal* refusal = nullptr);
} // namespace UrlLoadingDecoders

} // namespace Tickerly::Data

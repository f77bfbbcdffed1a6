#pragma once

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <nlohmann/json.hpp>

#include <optional>

// How the loading operations turn a body into a value. Server input: each gives nothing rather
// than failing.
namespace UrlLoadingDecoders {
// UTF-8 when the bytes are valid UTF-8, else each byte as the character of the same value.
TICKERLYDATAMAC_EXPORT std::optional<QString> text(const QByteArray& bytes);
// The top-level value when the bytes are one JSON document whose top level is an object.
TICKERLYDATAMAC_EXPORT std::optional<nlohmann::json> dictionary(const QByteArray& bytes);
TICKERLYDATAMAC_EXPORT std::optional<QImage> image(const QByteArray& bytes);
// A site's icon: a picture far larger than any icon is read at a reduced size, or is no icon
// when its format is read whole.
TICKERLYDATAMAC_EXPORT std::optional<QImage> icon(const QByteArray& bytes);
} // namespace UrlLoadingDecoders

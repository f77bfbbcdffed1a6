#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/serialization/Cbor_p.h"

#include <QByteArray>
#include <QVariant>

#include <optional>

namespace Tickerly::Foundation {

// Property-list values (as UserDefaults holds them in a QVariant) to CBOR items and back.
// Internal to TickerlyFoundation; plain functions, any thread.

// The item of `v`, or nothing when `v` (or anything in it, down to `depth` levels) is no
// property-list value.
std::optional<CborItem> toItem(const QVariant& v, int depth = 0);
// The value of `item`, or nothing when it is no property-list value.
std::optional<QVariant> fromItem(const CborItem& item);
// The value stored as `bytes`, or nothing when they do not decode to one.
std::optional<QVariant> decodeValue(const QByteArray& bytes);

} // namespace Tickerly::Foundation

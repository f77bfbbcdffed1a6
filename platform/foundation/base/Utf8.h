#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace Tickerly::Foundation {

// UTF-8 conversions for text that may come from untrusted input.
//
// Text held as UTF-16 may contain unpaired surrogates (an unescaped "&#xD800;" puts one there).
// Qt's own conversion writes '?' for them; every conversion to UTF-8 of this system (stores,
// archives, JSON, logs) goes through utf8Encoded instead, which writes U+FFFD.

// The UTF-8 bytes of `text`, with U+FFFD for every unpaired surrogate.
TICKERLYFOUNDATION_EXPORT QByteArray utf8Encoded(const QString& text);

// The text of `bytes` when they are well-formed UTF-8 (no overlong forms, no encoded surrogates,
// nothing past U+10FFFF); nothing otherwise. A leading byte-order mark is dropped.
TICKERLYFOUNDATION_EXPORT std::optional<QString> utf8Decoded(const QByteArray& bytes);

} // namespace Tickerly::Foundation

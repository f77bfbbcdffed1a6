#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QString>

namespace Tickerly::Data {

// The key of the user identifier in the shared suite.
inline constexpr char16_t userDefaultsUUIDKey[] = u"velmora.Tickerly.UserID";

// How the system identifies its user to the product's server: the user's language and a random
// identifier made once and kept in the shared suite, so that the application and the widget
// report under one identifier. Nothing to instantiate; both functions may be called from any
// thread.
class TICKERLYDATAMAC_EXPORT UserInfo {
public:
    // The first two characters of the user's first preferred language ("pt" for "pt-BR"), the
    // whole entry when it is shorter, "na" when there is none. Follows the current settings.
    static QString language();

    // The stored identifier, whatever text it is (the empty text included). On first use a new
    // one (36 upper-case characters, 8-4-4-4-12 hexadecimal digits joined by hyphens) is made,
    // once per process, and stored in one atomic step unless another program stored one first.
    // While another program holds the store the write is kept for later and the made identifier
    // given meanwhile; it never waits for that program. A kept identifier is journalled like a
    // person's change: a program that ends before the store frees leaves it for the next opening.
    static QString userId();
};

} // namespace Tickerly::Data

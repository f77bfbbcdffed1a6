#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QStringList>

namespace Tickerly::Foundation {

// The user's preferred languages, most preferred first, as language tags ("pt-BR", "en").
//
// Read afresh from the environment on every call, in the order LANGUAGE (a colon-separated
// list), LC_ALL, LC_MESSAGES, LANG. Locale names lose their encoding and modifier and take a
// hyphen before the region ("pt_BR.UTF-8" gives "pt-BR"); "C" and "POSIX" name no language and
// are left out, as are repeats. Empty when nothing names a language. Any thread.
TICKERLYFOUNDATION_EXPORT QStringList preferredLanguages();

} // namespace Tickerly::Foundation

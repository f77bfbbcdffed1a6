#include "data/sync/HTMLEntities.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Data;

// Bytes are read as UTF-8 text; the unescaped text may hold lone surrogates, which escaping
// must take as well.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString unescaped = gtm_stringByUnescapingFromHTML(text);
    (void)gtm_stringByEscapingForHTML(unescaped);
    (void)gtm_stringByUnescapingFromHTML(gtm_stringByEscapingForAsciiHTML(unescaped));
    return 0;
}

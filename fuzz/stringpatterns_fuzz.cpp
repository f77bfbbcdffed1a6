#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

// Bytes are read as UTF-8 text, then through the unescaper so that lone surrogates reach the
// pattern searches too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = gtm_stringByUnescapingFromHTML(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    static const auto base = Url::fromString(QStringLiteral("http://example.com/dir/"));
    (void)getImageLink(fixHTMLEncodings(text));
    (void)findQuotedLink(text);
    (void)findQuotedLink(text, base, QStringLiteral("src"));
    // What the first half decides of the tags removed is what the whole text gives.
    if (!removingTags(text).startsWith(
            removingTagsFromStart(QStringView(text).first(text.size() / 2))))
        std::abort();
    (void)fromData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}

#include "platform/foundation/base/Url.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype split = text.indexOf(QChar(u'\n'));
    const auto base = Url::fromString(split < 0 ? text : text.left(split));
    if (base) {
        (void)base->host();
        (void)base->lastPathComponent();
        (void)base->appendingPathComponent(text);
        (void)Url::withQuery(*base, { { text, text } });
        if (split >= 0)
            (void)Url::resolved(text.mid(split + 1), *base);
    }
    (void)Url::percentDecoded(text);
    return 0;
}

#include "platform/foundation/network/HttpResponseParser_p.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    HttpResponseParser parser;
    qsizetype start = 0;
    while (start < all.size()) {
        const qsizetype end = all.indexOf('\n', start);
        const qsizetype next = end < 0 ? all.size() : end + 1;
        parser.feedLine(all.sliced(start, next - start));
        start = next;
    }
    (void)parser.fields.value(QStringLiteral("Location"));
    return 0;
}

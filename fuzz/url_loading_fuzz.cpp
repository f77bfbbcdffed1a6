#include "data/sync/UrlLoadingDecoders_p.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)UrlLoadingDecoders::text(bytes);
    if (auto json = UrlLoadingDecoders::dictionary(bytes))
        (void)json->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    (void)UrlLoadingDecoders::image(bytes, size % 2 ? 2.0 : 1.0);
    (void)UrlLoadingDecoders::icon(bytes);
    // A tiny cover sends small pictures down the reduced paths: PNG rows, the JPEG decoder's own
    // scaling, the Exif turn.
    (void)decodeImage(bytes, { .cover = QSize(3, 2) });
    return 0;
}

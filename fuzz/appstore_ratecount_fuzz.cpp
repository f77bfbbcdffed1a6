#include "data/discovery/AppStoreRateCount.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Data;

// A reply body of the app-store lookup service, as the rating count reads it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)appStoreRateCount(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}

#include "platform/foundation/store/KeptJournal_p.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;

// A kept-change journal left by another process, whole, cut short or damaged.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto result = KeptJournal::read(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    for (const auto& entry : result.entries)
        (void)KeptJournal::frame(entry);
    return 0;
}

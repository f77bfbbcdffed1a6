#include "api/JSON.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Linkwork;
using namespace Tickerly::API;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    JSON value = JSON::fromData(bytes, size % 2 ? JSONSerialization::AllowFragments : 0);
    for (const auto& [key, member] : value.generate()) {
        const JSON step = value[{ key, 0, key }];
        (void)(step == member || member < value || member >= member);
        (void)member.URL(), (void)member.intValue(), (void)member.floatValue(),
            (void)member.boolValue();
        value.setSubscript({ key, key }, member);
    }
    (void)JSON::fromData(value.rawData().value_or(QByteArray())), (void)value.description();
    return 0;
}

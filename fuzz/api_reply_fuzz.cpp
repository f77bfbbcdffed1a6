#include "api/TickerlyAPIClient.h"
#include "api/TickerlyStaticAPIClient.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Linkwork;
using namespace Tickerly::API;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const JSON reply = JSON::fromData(bytes, JSONSerialization::NoReadingOptions);
    (void)reply[QStringLiteral("error")].string(),
        (void)reply[QStringLiteral("error_description")].stringValue();
    for (const auto& story : TickerlyAPIClient::parseStories(reply))
        (void)story.url.absoluteString();
    (void)TickerlyStaticAPIClient::parseFeeds(reply), (void)reply.dictionary();
    return 0;
}

#include "data/discovery/Bing.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::Data;

// A reply body of the web-search service; the client's session is made but never used.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "searchreply_fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv); // before the session's queue
    static const auto bing = std::make_shared<Bing>();
    const Result<Url> result = bing->handleResponse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
        UrlResponse());
    (void)(result.isOk() ? result.value().absoluteString() : result.error().description());
    return 0;
}

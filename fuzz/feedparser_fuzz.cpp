#include "data/sync/FeedParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Tickerly::Data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto source
        = std::make_shared<Source>(QStringLiteral("Fuzz"), QStringLiteral("http://fuzz.example/"));
    const QByteArray document(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const FeedParser parser(document, source);
    (void)parser.stories.size();
    // A body read from its start keeps what the whole body gives.
    if (FeedParser::fixText(QByteArrayView(document), FeedParser::descriptionMaxLength)
        != FeedParser::fixText(QString::fromUtf8(document), FeedParser::descriptionMaxLength))
        std::abort();
    return 0;
}

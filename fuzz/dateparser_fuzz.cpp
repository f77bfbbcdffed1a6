#include "data/sync/DateParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Tickerly::Data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    DateParser parser;
    (void)parser.parseDate(text);
    // Whatever the text, the next reading starts from the first attempt again.
    if (parser.localeIndex() != 0 || parser.formatIndex() != 0)
        std::abort();
    // Feed parsing reads date bytes as Latin-1 directly; that must read as the text does.
    const QLatin1StringView latin1(
        reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (DateParser::readCommonForm(latin1) != DateParser::readCommonForm(QString(latin1)))
        std::abort();
    return 0;
}

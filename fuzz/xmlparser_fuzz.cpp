#include "platform/foundation/XmlParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    struct Sink : XmlParserDelegate {
        void didStartElement(const QString& n, const XmlAttributes& a) override { (void)n.size(); (void)a.size(); }
        void foundCharacters(const QString& t) override { (void)t.size(); }
    } sink;
    XmlParser parser(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    parser.setDelegate(&sink);
    (void)parser.parse();
    return 0;
}

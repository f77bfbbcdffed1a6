#include "platform/foundation/xml/XmlMarkupScan_p.h"
#include "platform/foundation/xml/XmlParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Tickerly::Foundation;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    struct Sink : XmlParserDelegate {
        void didStartElement(const QString& n, const XmlAttributes& a) override
        {
            (void)n.size();
            (void)a.size();
        }
        void foundCharacters(const QString& t) override { (void)t.size(); }
    } sink;
    const QByteArray document(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The block scan finds what the plain one finds, on every input.
    const XmlMarkup fast = scanXmlMarkup(document);
    const XmlMarkup plain = scanXmlMarkupUnitByUnit(document);
    if (fast.oversizedStartTag != plain.oversizedStartTag || fast.cdataBytes != plain.cdataBytes)
        std::abort();
    XmlParser parser(document);
    parser.setDelegate(&sink);
    (void)parser.parse();
    // The same document as it arrives, in pieces whose size its first byte picks.
    XmlParser arriving;
    arriving.setDelegate(&sink);
    const qsizetype piece = size > 0 ? 1 + data[0] % 97 : 1;
    for (qsizetype at = 0; at < document.size(); at += piece)
        arriving.push(QByteArrayView(document).sliced(at, std::min(piece, document.size() - at)));
    (void)arriving.finish();
    return 0;
}

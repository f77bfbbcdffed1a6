#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QtGlobal>

namespace Tickerly::Foundation {

// What XmlParser learns of a document before libxml2 reads it.
// Internal to TickerlyFoundation (exported for its tests); any thread.

// libxml2 checks each attribute of a start tag against all those before it, so one tag with
// hundreds of thousands of attributes keeps it busy for minutes. No real document comes near
// these bounds.
constexpr qsizetype xmlMaxAttributes = 4096;
constexpr qsizetype xmlMaxStartTagBytes = 1024 * 1024;

// The document's code units as libxml2 will read them: bytes, or 16-bit units after a UTF-16
// byte-order mark or a UTF-16 "<". Only ASCII units matter to the scan; in UTF-8 and the
// legacy multi-byte encodings no byte of a non-ASCII character is one of them.
struct XmlUnits {
    const uchar* data;
    qsizetype size; // in units
    int width;
    bool bigEndian;

    explicit XmlUnits(const QByteArray& bytes)
        : data(reinterpret_cast<const uchar*>(bytes.constData()))
        , size(bytes.size())
        , width(1)
        , bigEndian(false)
    {
        if (size >= 2
            && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == '<' && data[1] == 0))) {
            width = 2;
        } else if (size >= 2
            && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0 && data[1] == '<'))) {
            width = 2;
            bigEndian = true;
        }
        size /= width;
    }
    // With `Width` 1 or 2 the width is known when compiling, for the scan over every unit.
    template <int Width = 0> char16_t unit(qsizetype i) const
    {
        if (Width == 1 || (Width == 0 && width == 1))
            return data[i];
        const uchar a = data[2 * i];
        const uchar b = data[2 * i + 1];
        return bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
    }
    char16_t operator[](qsizetype i) const { return unit(i); }
    template <int Width = 0> bool startsWith(qsizetype at, const char* ascii) const
    {
        for (; *ascii; ++ascii, ++at) {
            if (at >= size || unit<Width>(at) != char16_t(*ascii))
                return false;
        }
        return true;
    }
};

// The byte offset of the first start tag past the bounds above, or -1, and how many bytes the
// CDATA sections before it take. Of a document that arrives in pieces, its start is scanned:
// `resumeAt` is where a scan of what has come so far takes up again once more comes (the '<'
// of the markup still open at the end, or the end), as it is plain text there.
struct XmlMarkup {
    qsizetype oversizedStartTag = -1;
    qsizetype cdataBytes = 0;
    qsizetype resumeAt = 0;
};

TICKERLYFOUNDATION_EXPORT XmlMarkup scanXmlMarkup(const QByteArray& bytes);
// The same scan, one unit after another through the markup of single-byte documents too: the
// plain form the faster one is checked against.
TICKERLYFOUNDATION_EXPORT XmlMarkup scanXmlMarkupUnitByUnit(const QByteArray& bytes);

} // namespace Tickerly::Foundation

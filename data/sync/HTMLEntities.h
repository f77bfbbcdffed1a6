#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QString>
#include <QStringView>

#include <span>

namespace Tickerly::Data {

// HTML character references: escaping text with an entity table, and turning references back
// into characters. Everything works on UTF-16 code units: a character outside the Basic
// Multilingual Plane is two units, each handled on its own. Free functions over constant tables,
// safe on any thread.

// One entry of an entity table: the escape sequence ("&amp;", ampersand and semicolon included)
// and the code unit it stands for.
struct HTMLEscapeMap {
    QStringView escapeSequence;
    char16_t uchar;
};

// HTML 4.01's special characters plus "&apos;": 33 entries in ascending order of `uchar`.
TICKERLYDATAMAC_EXPORT extern const HTMLEscapeMap gUnicodeHTMLEscapeMap[33];
// All 252 HTML 4.01 entities plus "&apos;": 253 entries in ascending order of `uchar`.
TICKERLYDATAMAC_EXPORT extern const HTMLEscapeMap gAsciiHTMLEscapeMap[253];

// Orders a code unit against a table entry for the binary search: 1 when the unit is greater
// than the entry's character, -1 when smaller, 0 when equal.
TICKERLYDATAMAC_EXPORT int EscapeMapCompare(const char16_t* key, const HTMLEscapeMap* entry);

// What becomes of a unit of 128 and above that the table does not hold: kept as it is, or
// written as a decimal reference ("&#20013;").
enum class NonAscii { Kept, Escaped };

// `text` with every unit that `table` (sorted by character) holds written as its escape
// sequence, and every other unit of 128 and above as `nonAscii` says.
TICKERLYDATAMAC_EXPORT QString gtm_stringByEscapingHTMLUsingTable(
    const QString& text, std::span<const HTMLEscapeMap> table, NonAscii nonAscii);

// Escaped with gUnicodeHTMLEscapeMap; other characters stay.
TICKERLYDATAMAC_EXPORT QString gtm_stringByEscapingForHTML(const QString& text);

// Escaped with gAsciiHTMLEscapeMap and decimal references: the result is pure ASCII.
TICKERLYDATAMAC_EXPORT QString gtm_stringByEscapingForAsciiHTML(const QString& text);

// `text` with one level of character references replaced: names of gAsciiHTMLEscapeMap (exact
// case) and decimal or hexadecimal references of 1 to 65534, each of 4 to 10 units between "&"
// and ";" with no other "&" in between. Anything else stays as it is. A reference to a
// surrogate gives that lone unit.
TICKERLYDATAMAC_EXPORT QString gtm_stringByUnescapingFromHTML(const QString& text);

} // namespace Tickerly::Data

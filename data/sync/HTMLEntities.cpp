#include "data/sync/HTMLEntities.h"

#include <QHash>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace Tickerly::Data {

namespace {

// Numeric readings as the scanner of character references does them: white space and line
// breaks before the number are skipped, and a number too large for its type saturates (and so
// fails the range test later). `units` reports how much of the text was read.
struct Reading {
    bool ok = false;
    int64_t value = 0;
    qsizetype units = 0;
};

qsizetype skipSpace(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// A signed 32-bit decimal integer.
Reading scanInt(QStringView text)
{
    qsizetype i = skipSpace(text);
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    const qsizetype digitsStart = i;
    int64_t value = 0;
    while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9') {
        if (value <= int64_t(INT_MAX) + 1)
            value = value * 10 + (text.at(i).unicode() - u'0');
        ++i;
    }
    if (i == digitsStart)
        return {};
    value = negative ? -value : value;
    value = std::clamp<int64_t>(value, INT_MIN, INT_MAX);
    return { true, value, i };
}

// An unsigned 32-bit hexadecimal integer, with an optional "0x" or "0X" before its digits.
Reading scanHexInt(QStringView text)
{
    qsizetype i = skipSpace(text);
    if (i + 2 < text.size() && text.at(i) == u'0'
        && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X') && hexValue(text.at(i + 2)) >= 0)
        i += 2;
    const qsizetype digitsStart = i;
    int64_t value = 0;
    while (i < text.size() && hexValue(text.at(i)) >= 0) {
        if (value <= int64_t(UINT_MAX))
            value = value * 16 + hexValue(text.at(i));
        ++i;
    }
    if (i == digitsStart)
        return {};
    return { true, std::min<int64_t>(value, UINT_MAX), i };
}

// The unit a reference S ("&...;", 4 to 10 units) stands for, or 0 when it stays.
char16_t referencedUnit(QStringView s)
{
    const qsizetype length = s.size();
    if (s.at(1) == u'#') {
        const bool hex = s.at(2) == u'x' || s.at(2) == u'X';
        const QStringView digits = s.mid(hex ? 3 : 2, length - (hex ? 4 : 3));
        const Reading r = hex ? scanHexInt(digits) : scanInt(digits);
        if (r.ok && r.units == digits.size() && r.value >= 1 && r.value <= 0xFFFE)
            return char16_t(r.value);
        return 0;
    }
    // Never destroyed: feeds may still be parsed on a worker while the process ends.
    static const auto& names = *new const QHash<QStringView, char16_t>([] {
        QHash<QStringView, char16_t> map;
        for (const HTMLEscapeMap& entry : gAsciiHTMLEscapeMap)
            map.insert(entry.escapeSequence, entry.uchar);
        return map;
    }());
    return names.value(s, 0);
}

} // namespace

int EscapeMapCompare(const char16_t* key, const HTMLEscapeMap* entry)
{
    if (*key > entry->uchar)
        return 1;
    if (*key < entry->uchar)
        return -1;
    return 0;
}

QString gtm_stringByEscapingHTMLUsingTable(
    const QString& text, std::span<const HTMLEscapeMap> table, NonAscii nonAscii)
{
    if (text.isEmpty())
        return text;
    QString result;
    result.reserve(text.size());
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    qsizetype runStart = 0; // unchanged units are appended in runs
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = units[i];
        const HTMLEscapeMap* found = nullptr;
        size_t low = 0;
        size_t high = table.size();
        while (low < high) {
            const size_t mid = low + (high - low) / 2;
            const int order = EscapeMapCompare(&c, &table[mid]);
            if (order == 0) {
                found = &table[mid];
                break;
            }
            if (order > 0)
                low = mid + 1;
            else
                high = mid;
        }
        if (!found && !(nonAscii == NonAscii::Escaped && c >= 128))
            continue;
        result.append(QStringView(text).mid(runStart, i - runStart));
        runStart = i + 1;
        if (found) {
            result.append(found->escapeSequence);
        } else {
            result.append(u'&').append(u'#').append(QString::number(c)).append(u';');
        }
    }
    result.append(QStringView(text).mid(runStart));
    return result;
}

QString gtm_stringByEscapingForHTML(const QString& text)
{
    return gtm_stringByEscapingHTMLUsingTable(text, gUnicodeHTMLEscapeMap, NonAscii::Kept);
}

QString gtm_stringByEscapingForAsciiHTML(const QString& text)
{
    return gtm_stringByEscapingHTMLUsingTable(text, gAsciiHTMLEscapeMap, NonAscii::Escaped);
}

QString gtm_stringByUnescapingFromHTML(const QString& text)
{
    // Each "&" pairs with the first ";" after it, provided no other "&" comes first; references
    // never overlap, so one forward pass replaces the same ones as working back from the end.
    qsizetype amp = text.indexOf(u'&');
    if (amp < 0)
        return text;
    const qsizetype n = text.size();
    QString result;
    result.reserve(n);
    qsizetype copied = 0;
    while (amp >= 0) {
        qsizetype semicolon = -1;
        qsizetype next = -1;
        // A reference is at most 10 units, so the ";" is looked for only that far.
        for (qsizetype j = amp + 1; j < n && j < amp + 10; ++j) {
            const QChar c = text.at(j);
            if (c == u';') {
                semicolon = j;
                break;
            }
            if (c == u'&') {
                next = j;
                break;
            }
        }
        if (semicolon >= 0 && semicolon - amp + 1 >= 4) {
            const char16_t unit = referencedUnit(QStringView(text).mid(amp, semicolon - amp + 1));
            if (unit != 0) {
                result.append(QStringView(text).mid(copied, amp - copied));
                result.append(QChar(unit));
                copied = semicolon + 1;
                amp = text.indexOf(u'&', copied);
                continue;
            }
        }
        amp = next >= 0 ? next : text.indexOf(u'&', amp + 1);
    }
    if (copied == 0)
        return text;
    result.append(QStringView(text).mid(copied));
    return result;
}

} // namespace Tickerly::Data

#include "data/sync/HTMLEntities.h"
#include "platform/foundation/base/Utf8.h"
#include "testsupport/TestSupport.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <climits>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Unescaping exactly as written out: from the last "&" back to the first, each with the first
// ";" before the "&" after it, replacing in a copy from the end. Numbers are read here with
// strtol/strtoul, whose white space and sign rules are those of the reference scanner.
QString unescapeFromTheEnd(const QString& text)
{
    QString result = text;
    qsizetype windowEnd = text.size();
    qsizetype p = text.lastIndexOf(u'&');
    while (p >= 0) {
        const qsizetype semicolon = text.indexOf(u';', p);
        if (semicolon >= 0 && semicolon < windowEnd) {
            const QString s = text.mid(p, semicolon - p + 1);
            const qsizetype l = s.size();
            if (l >= 4 && l <= 10) {
                std::optional<char16_t> unit;
                if (s.at(1) == u'#') {
                    const bool hex = s.at(2) == u'x' || s.at(2) == u'X';
                    const QString digits = s.mid(hex ? 3 : 2, l - (hex ? 4 : 3));
                    const QByteArray latin = digits.toLatin1();
                    const bool plain = digits == QString::fromLatin1(latin) && !latin.contains('\0')
                        && !latin.contains('\v') && !latin.contains('\f') && !latin.contains('\r');
                    char* end = nullptr;
                    errno = 0;
                    long long value = hex
                        ? static_cast<long long>(std::strtoull(latin.constData(), &end, 16))
                        : std::strtoll(latin.constData(), &end, 10);
                    const bool consumed = plain && end == latin.constData() + latin.size()
                        && end != latin.constData() && !(hex && latin.trimmed().startsWith('-'))
                        && !(hex && latin.trimmed().startsWith('+'));
                    if (hex && value > UINT_MAX)
                        value = UINT_MAX;
                    if (consumed && value >= 1 && value <= 0xFFFE)
                        unit = char16_t(value);
                } else {
                    for (const HTMLEscapeMap& entry : gAsciiHTMLEscapeMap) {
                        if (entry.escapeSequence == s) {
                            unit = entry.uchar;
                            break;
                        }
                    }
                }
                if (unit)
                    result.replace(p, l, QChar(*unit));
            }
        }
        windowEnd = p;
        p = p > 0 ? text.lastIndexOf(u'&', p - 1) : -1;
    }
    return result;
}

} // namespace

TEST(HTMLEscapeMaps, AreSortedAndComplete)
{
    const auto check = [](std::span<const HTMLEscapeMap> table) {
        for (size_t i = 0; i < table.size(); ++i) {
            const QStringView s = table[i].escapeSequence;
            EXPECT_GE(s.size(), 4);
            EXPECT_LE(s.size(), 10);
            EXPECT_TRUE(s.startsWith(u'&') && s.endsWith(u';')) << s.toString().toStdString();
            if (i > 0) {
                EXPECT_LT(table[i - 1].uchar, table[i].uchar) << s.toString().toStdString();
            }
        }
    };
    check(gUnicodeHTMLEscapeMap);
    check(gAsciiHTMLEscapeMap);
    EXPECT_EQ(gAsciiHTMLEscapeMap[5].escapeSequence, u"&nbsp;");
    EXPECT_EQ(gAsciiHTMLEscapeMap[252].escapeSequence, u"&diams;");
    EXPECT_EQ(gAsciiHTMLEscapeMap[252].uchar, 0x2666);
    EXPECT_EQ(gUnicodeHTMLEscapeMap[32].escapeSequence, u"&euro;");
    // HTML 4.01's angle brackets, not HTML 5's.
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&lang;&rang;&thetasym;"_s), u"\u2329\u232A\u03D1"_s);
}

TEST(HTMLEscaping, WritesTableCharactersAsNamedReferences)
{
    EXPECT_EQ(gtm_stringByEscapingForHTML(u"a<b & c"_s), u"a&lt;b &amp; c"_s);
    EXPECT_EQ(gtm_stringByEscapingForHTML(u"\"'"_s), u"&quot;&apos;"_s);
    EXPECT_EQ(gtm_stringByEscapingForAsciiHTML(u"\"'"_s), u"&quot;&apos;"_s);
    EXPECT_EQ(gtm_stringByEscapingForHTML(u"é €–"_s), u"é &euro;&ndash;"_s);
    EXPECT_EQ(gtm_stringByEscapingForAsciiHTML(u"é中x"_s), u"&eacute;&#20013;x"_s);
    EXPECT_EQ(gtm_stringByEscapingForAsciiHTML(u"\U0001F600"_s), u"&#55357;&#56832;"_s);
    EXPECT_EQ(gtm_stringByEscapingForHTML(QString()), QString());
    EXPECT_EQ(gtm_stringByEscapingForAsciiHTML(QString()), QString());
}

TEST(HTMLUnescaping, ReplacesOneLevelOfReferences)
{
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&lt;p&gt;"_s), u"<p>"_s);
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&#65;&#x42;&#X43;"_s), u"ABC"_s);
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&amp;lt;"_s), u"&lt;"_s);
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&ltx&gt;"_s), u"&ltx>"_s);
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"no references"_s), u"no references"_s);
    // Number readings skip leading white space, take a sign or a "0x", and must use every unit.
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&# 65;&#+66;&#x0x43;&#x 44;"_s), u"ABCD"_s);
}

TEST(HTMLUnescaping, LeavesWhatIsNoReference)
{
    for (const QString& kept : { u"&AMP;"_s, u"a & b; c"_s, u"&#0;"_s, u"&#65535;"_s,
             u"&#x10000;"_s, u"&#65a;"_s, u"&#65 ;"_s, u"&#-65;"_s, u"&;"_s, u"&#;"_s, u"&#x;"_s,
             u"&thetasymx;"_s, u"&#99999999999;"_s, u"&#xFFFFFFFFF;"_s, u"&lt"_s, u"&"_s }) {
        EXPECT_EQ(gtm_stringByUnescapingFromHTML(kept), kept);
    }
}

TEST(HTMLUnescaping, KeepsALoneSurrogateThatUtf8WritesAsReplacement)
{
    const QString text = gtm_stringByUnescapingFromHTML(u"a&#xD800;b"_s);
    ASSERT_EQ(text.size(), 3);
    EXPECT_EQ(text.at(1).unicode(), 0xD800);
    EXPECT_EQ(utf8Encoded(text),
        QByteArray("a\xEF\xBF\xBD"
                   "b"));
    // Two references to the halves of a pair make the character.
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(u"&#55357;&#56832;"_s), u"\U0001F600"_s);
}

TEST(HTMLUnescaping, AgreesWithWorkingBackFromTheEnd)
{
    QRandomGenerator random(11);
    const QString alphabet = u"&;#xX0129aAltgp ;&"_s;
    for (int round = 0; round < 5000; ++round) {
        QString text;
        const int length = random.bounded(30);
        for (int i = 0; i < length; ++i)
            text.append(alphabet.at(random.bounded(int(alphabet.size()))));
        ASSERT_EQ(gtm_stringByUnescapingFromHTML(text), unescapeFromTheEnd(text))
            << text.toStdString();
    }
}

TEST(HTMLEscaping, AsciiEscapingRoundTrips)
{
    QRandomGenerator random(3);
    for (int round = 0; round < 500; ++round) {
        QString text;
        for (int i = 0; i < 40; ++i)
            text.append(QChar(char16_t(1 + random.bounded(0xFFFE)))); // 0xFFFF is never read back
        const QString escaped = gtm_stringByEscapingForAsciiHTML(text);
        for (const QChar c : escaped)
            ASSERT_LT(c.unicode(), 128);
        ASSERT_EQ(gtm_stringByUnescapingFromHTML(escaped), text);
    }
}

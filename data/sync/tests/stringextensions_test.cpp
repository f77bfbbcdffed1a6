#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"
#include "testsupport/TestSupport.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<QString> linkText(const std::optional<Url>& url)
{
    if (!url)
        return std::nullopt;
    return url->absoluteString();
}

// Leftover deletion exactly as written out: find one, delete every copy of it, search again.
QString fixHTMLEncodingsByRepeatedSearch(QString text)
{
    const std::pair<const char16_t*, const char16_t*> entities[]
        = { { u"&quot;", u"\"" }, { u"&amp;", u"&" }, { u"&apos;", u"'" }, { u"&lt;", u"<" },
              { u"&gt;", u">" }, { u"&nbsp;", u" " }, { u"&#34;", u"\"" }, { u"&#38;", u"&" },
              { u"&#39;", u"'" }, { u"&#60;", u"<" }, { u"&#62;", u">" }, { u"&#160;", u" " } };
    for (const auto& [entity, replacement] : entities)
        text.replace(QString::fromUtf16(entity), QString::fromUtf16(replacement));
    while (const auto leftover = find(text, u"&(#[0-9]+|[a-z]+);"_s))
        text.replace(*leftover, QString());
    return text;
}

// Tag removal exactly as written out: remove the leftmost tag, search again.
QString removingTagsByRepeatedSearch(QString text)
{
    while (const auto tag = find(text, u"<[^>]+>"_s))
        text.remove(text.indexOf(*tag), tag->size());
    return text;
}

QString randomText(QRandomGenerator& random, const QString& alphabet, int maxLength)
{
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        text.append(alphabet.at(random.bounded(int(alphabet.size()))));
    return text;
}

} // namespace

TEST(StringPatterns, FindCutsTheFirstMatch)
{
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s), u"bbb"_s);
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s, Qt::CaseInsensitive, 1, 1), u"b"_s);
    EXPECT_EQ(find(u"abbbc"_s, u"x+"_s), std::nullopt);
    EXPECT_EQ(find(u"aBBbc"_s, u"b+"_s), u"BBb"_s);
    EXPECT_EQ(find(u"aBBbc"_s, u"b+"_s, Qt::CaseSensitive), u"b"_s);
    // Cuts larger than the match leave nothing; they never reach outside the text.
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s, Qt::CaseInsensitive, 2, 2), QString());
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s, Qt::CaseInsensitive, 100, 0), QString());
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s, Qt::CaseInsensitive, -100, -100), u"abbbc"_s);
    EXPECT_EQ(find(u"abbbc"_s, u"b+"_s, Qt::CaseInsensitive, std::numeric_limits<qsizetype>::max(),
                  std::numeric_limits<qsizetype>::min()),
        QString());
}

TEST(StringPatterns, FindAllGivesEveryMatchInOrder)
{
    EXPECT_EQ(findAll(u"a1b22c333"_s, u"[0-9]+"_s), QStringList({ u"1"_s, u"22"_s, u"333"_s }));
    EXPECT_EQ(findAll(u"abc"_s, u"[0-9]+"_s), QStringList());
    EXPECT_EQ(findAll(u"<a><bb>"_s, u"<[^>]+>"_s, Qt::CaseInsensitive, 1, 1),
        QStringList({ u"a"_s, u"bb"_s }));
    // Offsets are UTF-16 units, and a lone surrogate is matched like any other character.
    QString text = u"x\U0001F600y"_s;
    text.append(QChar(0xDC01)).append(u"z"_s);
    EXPECT_EQ(findAll(text, u"[a-z]"_s), QStringList({ u"x"_s, u"y"_s, u"z"_s }));
    EXPECT_EQ(find(text, u"y.z"_s, Qt::CaseInsensitive, 1, 1), QString(QChar(0xDC01)));
}

TEST(StringPatterns, CutDropsUnitsAtBothEnds)
{
    const QString link = u"http://example.com"_s;
    ASSERT_EQ(link.size(), 18);
    EXPECT_EQ(cut(link, 7, 0), u"example.com"_s);
    EXPECT_EQ(cut(link, 7, 4), u"example"_s);
    EXPECT_EQ(cut(link, 10, 10), QString());
    EXPECT_EQ(cut(link, 0, 100), QString());
    EXPECT_EQ(cut(link, -5, -5), link);
    EXPECT_EQ(cut(QString(), 1, 1), QString());
}

TEST(StringPatterns, FromDataReadsUtf8AndElseLatin1)
{
    EXPECT_EQ(fromData(QByteArray("Z\xC3\xBCrich")), u"Zürich"_s);
    // An 8-bit page stays readable: each byte is the character of its value.
    EXPECT_EQ(fromData(QByteArray("Z\xFCrich \x80")), u"Zürich \u0080"_s);
    EXPECT_EQ(fromData(QByteArray("\xC3")), u"Ã"_s);
    EXPECT_EQ(fromData(QByteArray()), QString());
    EXPECT_EQ(fromData(std::nullopt), std::nullopt);
}

TEST(StringPatterns, GetImageLinkFindsOnlyPlainHttpImages)
{
    EXPECT_EQ(
        linkText(getImageLink(u"<img src=\"http://cdn.example.com/a/x.JPG?w=1\" alt=\"\">"_s)),
        u"http://cdn.example.com/a/x.JPG?w=1"_s);
    EXPECT_EQ(getImageLink(u"<img src=\"https://cdn.example.com/x.jpg\">"_s), std::nullopt);
    // Greedy up to the last extension before the next double quote.
    EXPECT_EQ(
        linkText(getImageLink(u"\"http://e.com/a.png/b.gif\""_s)), u"http://e.com/a.png/b.gif"_s);
    // A run without an image does not hide one in a later run.
    EXPECT_EQ(linkText(getImageLink(
                  u"see http://e.com/page and http://e.com/x \"http://e.com/i.jpeg\""_s)),
        u"http://e.com/i.jpeg"_s);
    // Found, but no valid address: nothing.
    EXPECT_EQ(getImageLink(u"\"http://e.com/a b.png\""_s), std::nullopt);
    EXPECT_EQ(getImageLink(QString()), std::nullopt);
}

TEST(StringPatterns, GetImageLinkAgreesWithASearchOfTheWholeText)
{
    const QString pieces[] = { u"http://"_s, u"HTTP://"_s, u".jpg"_s, u".PNG"_s, u".gif"_s, u"\""_s,
        u"?"_s, u"a"_s, u"."_s, u" "_s, u"/"_s, u"jpeg"_s, u"JpEg"_s, u"jp"_s, u"g"_s, u"\u0130"_s,
        u"\uFB01"_s, u"\u00E9"_s, u"\n"_s, u"hTtP:/"_s };
    QRandomGenerator random(13);
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int count = random.bounded(12);
        for (int i = 0; i < count; ++i)
            text += pieces[random.bounded(int(std::size(pieces)))];
        const auto whole = find(text, u"http://[^\"]+\\.(jpg|jpeg|png|gif)(\\?[^\"]*)?"_s);
        ASSERT_EQ(
            linkText(getImageLink(text)), whole ? linkText(Url::fromString(*whole)) : std::nullopt)
            << text.toStdString();
    }
}

TEST(StringPatterns, FixHTMLEncodingsReplacesCommonEntitiesAndDeletesTheRest)
{
    EXPECT_EQ(
        fixHTMLEncodings(u"&quot;a&quot; &amp; &#39;b&#39; &lt;c&gt;"_s), u"\"a\" & 'b' <c>"_s);
    EXPECT_EQ(fixHTMLEncodings(u"a&nbsp;b&#160;c"_s), u"a b c"_s);
    EXPECT_EQ(fixHTMLEncodings(u"x&eacute;&Eacute;&AMP;&#8217;y"_s), u"xy"_s);
    EXPECT_EQ(fixHTMLEncodings(u"& b; &x1;"_s), u"& b; &x1;"_s);
    EXPECT_EQ(fixHTMLEncodings(u"&amp;lt;"_s), u"<"_s);
    // Deleting one entity can bring another together; that one goes too.
    EXPECT_EQ(fixHTMLEncodings(u"&a&b;;x"_s), u"x"_s);
}

TEST(StringPatterns, FixHTMLEncodingsAgreesWithRepeatedSearch)
{
    QRandomGenerator random(5);
    const QString alphabet = u"&;#a1Zx ;&\u212A\u017F\u00E9"_s;
    for (int round = 0; round < 4000; ++round) {
        const QString text = randomText(random, alphabet, 24);
        ASSERT_EQ(fixHTMLEncodings(text), fixHTMLEncodingsByRepeatedSearch(text))
            << text.toStdString();
    }
}

TEST(StringPatterns, RemovingTagsAgreesWithRepeatedSearch)
{
    EXPECT_EQ(removingTags(u"<p>Hello <b>world</b></p>"_s), u"Hello world"_s);
    EXPECT_EQ(removingTags(u"a<>b<<c>d>"_s), u"a<>bd>"_s);
    EXPECT_EQ(removingTags(u"1 < 2"_s), u"1 < 2"_s);
    QRandomGenerator random(7);
    for (int round = 0; round < 4000; ++round) {
        const QString text = randomText(random, u"<>a\n"_s, 20);
        ASSERT_EQ(removingTags(text), removingTagsByRepeatedSearch(text)) << text.toStdString();
        // What a start of the text decides is what the whole text gives there.
        const QString whole = removingTags(text);
        for (qsizetype cut = 0; cut <= text.size(); ++cut)
            ASSERT_TRUE(whole.startsWith(removingTagsFromStart(QStringView(text).first(cut))))
                << text.toStdString() << ' ' << cut;
        // Only a '<' with no '>' after it stays undecided.
        ASSERT_EQ(removingTagsFromStart(text).size() < whole.size(),
            text.lastIndexOf(u'<') > text.lastIndexOf(u'>'))
            << text.toStdString();
    }
}

TEST(StringPatterns, FindQuotedLinkTriesQuotedLinksThenPathsThenTheAttribute)
{
    const auto base = Url::fromString(u"http://example.com/blog"_s);
    ASSERT_TRUE(base);

    EXPECT_EQ(linkText(findQuotedLink(u"<link href=\"//cdn.example.com/i.png\">"_s)),
        u"http://cdn.example.com/i.png"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<link href='//cdn.example.com/i.png' data-x=\"https\">"_s)),
        u"https://cdn.example.com/i.png"_s);
    EXPECT_EQ(
        linkText(findQuotedLink(u"<a href=\"HTTPS://e.com/x\">"_s, base)), u"HTTPS://e.com/x"_s);
    // Stage one decides even when its find is no address.
    EXPECT_EQ(findQuotedLink(u"<a href=\"http://e.com/a b\">"_s, base), std::nullopt);

    // A root path lies on the base's host, as a browser reads it.
    EXPECT_EQ(linkText(findQuotedLink(u"<link rel=\"icon\" href=\"/i.png\">"_s, base)),
        u"http://example.com/i.png"_s);
    // Without a base the attribute's value keeps its quotes and is no address.
    EXPECT_EQ(findQuotedLink(u"<link rel=\"icon\" href=\"/i.png\">"_s), std::nullopt);

    EXPECT_EQ(linkText(findQuotedLink(u"href=page.html>"_s)), u"http:page.html"_s);
    EXPECT_EQ(
        linkText(findQuotedLink(u"href=page.html>"_s, base)), u"http://example.com/page.html"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<img SRC=http://e.com/i.gif alt=x>"_s, base, u"src"_s)),
        u"http://e.com/i.gif"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<img src=//e.com/i.gif>"_s, std::nullopt, u"src"_s)),
        u"http://e.com/i.gif"_s);
    EXPECT_EQ(findQuotedLink(u"<p>no link</p>"_s, base), std::nullopt);
}

// A channel link that ends in a slash and a page naming "/touch.png" once gave "//touch.png",
// which a server that does not merge slashes answers with 404.
TEST(StringPatterns, FindQuotedLinkReadsARootPathOnTheBasesHostWithOneSlash)
{
    const auto home = Url::fromString(u"https://news.example.com/"_s);
    const auto page = Url::fromString(u"https://news.example.com/world/story.html?id=4"_s);
    ASSERT_TRUE(home && page);
    for (const Url& base : { *home, *page }) {
        EXPECT_EQ(linkText(findQuotedLink(
                      u"<link rel=\"apple-touch-icon\" href=\"/touch.png\">"_s, base)),
            u"https://news.example.com/touch.png"_s);
        EXPECT_EQ(linkText(findQuotedLink(u"<link rel='icon' href='/a/../i.png?v=2'>"_s, base)),
            u"https://news.example.com/i.png?v=2"_s);
        EXPECT_EQ(linkText(findQuotedLink(u"<link rel=icon href=/touch.png>"_s, base)),
            u"https://news.example.com/touch.png"_s);
    }
    EXPECT_EQ(linkText(findQuotedLink(u"href=touch.png>"_s, *home)),
        u"https://news.example.com/touch.png"_s);
}

// A path that does not start at the root lies in the page's folder, as a browser reads it, never
// under the page's own name.
TEST(StringPatterns, FindQuotedLinkResolvesARelativePathInThePagesFolder)
{
    const auto page = Url::fromString(u"http://site.test/blog/index.html"_s);
    ASSERT_TRUE(page);
    EXPECT_EQ(linkText(findQuotedLink(u"<link rel=\"icon\" href=\"icon.png\">"_s, page)),
        u"http://site.test/blog/icon.png"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<link rel='icon' href='../i/icon.png'/>"_s, page)),
        u"http://site.test/i/icon.png"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<img src=pic.jpg?w=2>"_s, page, u"src"_s)),
        u"http://site.test/blog/pic.jpg?w=2"_s);
    EXPECT_EQ(linkText(findQuotedLink(u"<link href=HTTP://other.test/i.png>"_s, page)),
        u"HTTP://other.test/i.png"_s);
}

// A program that ends while a worker still parses runs its libraries' destructors under that
// worker: the patterns, entities and quoted-link searches it reaches outlive them all.
TEST(StringPatterns, AWorkerStillParsingAsTheProcessEndsFindsAllItUses)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static std::atomic<int> rounds = 0;
            // Registered before any of them is made, so it runs after every one would have been
            // destroyed: the worker must get through two more rounds then.
            std::atexit([] {
                const int seen = rounds;
                while (rounds < seen + 2)
                    std::this_thread::yield();
            });
            std::thread([] {
                for (int i = 0;; ++i) {
                    const QString text = u"<a href=\"/p%1\">&eacute;</a>"_s.arg(i);
                    find(text, u"p[0-9]{1,%1}"_s.arg(i % 40 + 1));
                    gtm_stringByUnescapingFromHTML(text);
                    findQuotedLink(text, Url::fromString(u"http://a.example/b/"_s), u"href"_s);
                    ++rounds;
                }
            }).detach();
            while (rounds < 2)
                std::this_thread::yield();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(StringTrimming, CountsInCharacters)
{
    const QString flags = u"🇩🇰🇸🇪e\u0301x"_s; // two flags, a decomposed é, x
    EXPECT_EQ(characterCount(flags), 4);
    EXPECT_EQ(stringWithSubstringFromIndex(flags, 2), u"e\u0301x"_s);
    EXPECT_EQ(stringWithSubstringToIndex(flags, 1), u"🇩🇰"_s);
    EXPECT_EQ(stringWithSubstringToIndex(flags, 99), flags);
    EXPECT_EQ(stringWithSubstringFromIndex(flags, 99), QString());
    EXPECT_EQ(stringWithSubstringFromIndex(flags, -1), flags);
    EXPECT_EQ(stringWithSubstringToIndex(flags, -1), QString());
}

TEST(StringTrimming, RemovesAndReplacesWholeCharacterAffixes)
{
    EXPECT_EQ(stringByReplacingPrefix(u"http://e.com/"_s, u"http://"_s, u"feed://"_s),
        u"feed://e.com/"_s);
    EXPECT_EQ(stringByReplacingPrefix(u"https://e.com/"_s, u"http://"_s, u"feed://"_s),
        u"https://e.com/"_s);
    EXPECT_EQ(stringByRemovingSuffix(u"a/b/"_s, u"/"_s), u"a/b"_s);
    EXPECT_EQ(stringByRemovingSuffix(u"a/b"_s, u"/"_s), u"a/b"_s);
    EXPECT_EQ(stringByRemovingPrefix(u"abc"_s, u"abcd"_s), u"abc"_s);
    // A part of a character is no prefix; a canonically equal one is.
    EXPECT_EQ(stringByRemovingPrefix(u"e\u0301t\u00E9"_s, u"e"_s), u"e\u0301t\u00E9"_s);
    EXPECT_EQ(stringByRemovingPrefix(u"e\u0301t\u00E9"_s, u"\u00E9"_s), u"t\u00E9"_s);
    EXPECT_EQ(stringByRemovingSuffix(u"te\u0301"_s, u"\u00E9"_s), u"t"_s);

    QString text = u"http://e.com/x/"_s;
    replacePrefix(text, u"http://"_s, u"feed://"_s);
    removeSuffix(text, u"/"_s);
    EXPECT_EQ(text, u"feed://e.com/x"_s);
    removePrefix(text, u"feed://"_s);
    substringToIndex(text, 5);
    substringFromIndex(text, 2);
    EXPECT_EQ(text, u"com"_s);
}

TEST(TextCleaning, HostileTextFinishes)
{
    // Megabytes of unmatched openers must be cleaned in one pass: one pass per opener would not
    // end within the test's time limit. How long one pass takes is measured in text_bench.
    const QString opens = QString(5 * 1024 * 1024, u'<');
    const QString amps = QString(5 * 1024 * 1024, u'&');
    QString links;
    for (int i = 0; i < 200000; ++i)
        links += u"http://a&b "_s;

    EXPECT_EQ(removingTags(opens).size(), opens.size());
    EXPECT_EQ(gtm_stringByUnescapingFromHTML(amps).size(), amps.size());
    EXPECT_EQ(fixHTMLEncodings(amps).size(), amps.size());
    EXPECT_EQ(removingTags(u"<a"_s.repeated(1024 * 1024)).size(), 2 * 1024 * 1024);
    EXPECT_EQ(
        gtm_stringByUnescapingFromHTML(u"&lt"_s.repeated(1024 * 1024)).size(), 3 * 1024 * 1024);
    EXPECT_EQ(getImageLink(links), std::nullopt);
    EXPECT_EQ(findQuotedLink(links.repeated(2)), std::nullopt);
}

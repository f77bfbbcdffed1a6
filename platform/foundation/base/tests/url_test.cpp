#include "platform/foundation/base/Url.h"
#include "testsupport/TestSupport.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

struct Components {
    const char16_t* text;
    const char16_t* scheme;
    const char16_t* host;
    int port; // -1: none
    const char16_t* path;
    const char16_t* query;
    const char16_t* fragment;
};

const Components accepted[] = {
    { u"http://feeds.example.com/rss.xml", u"http", u"feeds.example.com", -1, u"/rss.xml", u"",
        u"" },
    { u"https://www.example.org/feed/?format=rss&lang=en", u"https", u"www.example.org", -1,
        u"/feed/", u"format=rss&lang=en", u"" },
    { u"http://example.com:8080/a/b?x=1#top", u"http", u"example.com", 8080, u"/a/b", u"x=1",
        u"top" },
    { u"http://[::1]:4000/api/v1/stories/hot", u"http", u"::1", 4000, u"/api/v1/stories/hot", u"",
        u"" },
    { u"http://[2001:db8::7]/", u"http", u"2001:db8::7", -1, u"/", u"", u"" },
    { u"feed://example.com/atom", u"feed", u"example.com", -1, u"/atom", u"", u"" },
    { u"HTTP://Example.COM/Path%20With%20Escapes", u"HTTP", u"Example.COM", -1,
        u"/Path%20With%20Escapes", u"", u"" },
    { u"http://user:pw@example.com/x", u"http", u"example.com", -1, u"/x", u"", u"" },
    { u"mailto:someone@example.com", u"mailto", u"", -1, u"someone@example.com", u"", u"" },
    { u"/relative/path.xml?q=1", u"", u"", -1, u"/relative/path.xml", u"q=1", u"" },
    { u"//cdn.example.com/icon.png", u"", u"cdn.example.com", -1, u"/icon.png", u"", u"" },
    { u"http://example.com?", u"http", u"example.com", -1, u"", u"", u"" },
    { u"http://example.com/feed.php?id=1&amp;x=%7E", u"http", u"example.com", -1, u"/feed.php",
        u"id=1&amp;x=%7E", u"" },
    // Around the shape read in one pass: "http" or "https", a plain host, a path, a query.
    { u"https://a-b.example/x/y.xml?p=1?q=/2", u"https", u"a-b.example", -1, u"/x/y.xml",
        u"p=1?q=/2", u"" },
    { u"http://a.example", u"http", u"a.example", -1, u"", u"", u"" },
    { u"http://a.example/", u"http", u"a.example", -1, u"/", u"", u"" },
    { u"http://ex_ample.com/a", u"http", u"ex_ample.com", -1, u"/a", u"", u"" },
    { u"http://a.example?x=1", u"http", u"a.example", -1, u"", u"x=1", u"" },
    { u"https://a.example/a%2Fb@c", u"https", u"a.example", -1, u"/a%2Fb@c", u"", u"" },
    { u"httpx://a.example/", u"httpx", u"a.example", -1, u"/", u"", u"" },
    { u"http:/a.example/", u"http", u"", -1, u"/a.example/", u"", u"" },
};

const char16_t* const refused[] = {
    u"",
    u"http://example.com/a b",
    u" http://example.com/",
    u"http://example.com/\n",
    u"http://example.com/\t",
    u"http://exämple.com/",
    u"http://example.com/ü",
    u"http://example.com/\"q\"",
    u"http://example.com/<tag>",
    u"http://example.com/a\\b",
    u"http://example.com/a^b",
    u"http://example.com/`",
    u"http://example.com/{x}",
    u"http://example.com/a|b",
    u"http://example.com/%",
    u"http://example.com/%2",
    u"http://example.com/%zz",
    u"http://example.com/a#b#c",
    u"http://example.com:port/",
    u"http://example.com:99999/",
    u"http://[::1/",
    u"http://example.com/?a[b]=c",
};

} // namespace

TEST(Url, AcceptsRealWorldAddressesAndKeepsTheirTextAndRawComponents)
{
    for (const auto& c : accepted) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        auto url = Url::fromString(text);
        ASSERT_TRUE(url.has_value());
        EXPECT_TRUE(url->isValid());
        EXPECT_EQ(url->absoluteString(), text);
        EXPECT_EQ(url->scheme(), QString::fromUtf16(c.scheme));
        EXPECT_EQ(url->host(), QString::fromUtf16(c.host));
        EXPECT_EQ(url->port(), c.port < 0 ? std::nullopt : std::optional<int>(c.port));
        EXPECT_EQ(url->path(), QString::fromUtf16(c.path));
        EXPECT_EQ(url->query(), QString::fromUtf16(c.query));
        EXPECT_EQ(url->fragment(), QString::fromUtf16(c.fragment));
        EXPECT_EQ(url->hasQuery(), text.contains(u'?'));
        EXPECT_EQ(url->hasFragment(), text.contains(u'#'));
    }
}

TEST(Url, RefusesWhatABrowserGradeParserRefuses)
{
    for (const char16_t* text : refused) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        EXPECT_FALSE(Url::fromString(QString::fromUtf16(text)).has_value());
    }
    EXPECT_FALSE(Url().isValid());
    EXPECT_EQ(Url().absoluteString(), QString());
}

TEST(Url, ComparesAndHashesByTheWholeText)
{
    const auto a = *Url::fromString(u"http://example.com/feed"_s);
    const auto b = *Url::fromString(u"http://example.com/feed"_s);
    const auto slash = *Url::fromString(u"http://example.com/feed/"_s);
    const auto upper = *Url::fromString(u"HTTP://example.com/feed"_s);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, slash);
    EXPECT_NE(a, upper);
    QSet<Url> set { a, b, slash, upper };
    EXPECT_EQ(set.size(), 3);
    EXPECT_EQ(std::hash<Url>()(a), std::hash<Url>()(b));
}

// Two texts name one source when a browser would ask for one resource: a web address without a
// path asks for "/".
TEST(Url, NamesTheSameResourceAsABrowserAsksForIt)
{
    const struct {
        const char16_t* a;
        const char16_t* b;
        bool same;
    } cases[] = {
        { u"http://site.test", u"http://site.test/", true },
        { u"HTTPS://Site.test:443", u"https://site.test/", true },
        { u"http://site.test?q=1", u"http://site.test/?q=1", true },
        { u"http://site.test#top", u"http://site.test/", true },
        { u"http://site.test", u"http://site.test/a", false },
        { u"http://site.test/a", u"http://site.test/a/", false },
        { u"http://site.test?q=1", u"http://site.test/?q=2", false },
        // Other schemes keep their empty path.
        { u"ftp-like://site.test", u"ftp-like://site.test/", false },
        { u"not an address", u"not an address/", false },
    };
    for (const auto& c : cases) {
        const QString a = QString::fromUtf16(c.a), b = QString::fromUtf16(c.b);
        EXPECT_EQ(Url::namesSameResource(a, b), c.same)
            << a.toStdString() << " " << b.toStdString();
        EXPECT_EQ(Url::namesSameResource(b, a), c.same)
            << b.toStdString() << " " << a.toStdString();
    }
}

TEST(Url, ResolvesReferencesAgainstABasePage)
{
    const auto base = *Url::fromString(u"http://a.example/b/c/d;p?q"_s);
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        { u"g", u"http://a.example/b/c/g" },
        { u"./g", u"http://a.example/b/c/g" },
        { u"g/", u"http://a.example/b/c/g/" },
        { u"/g", u"http://a.example/g" },
        { u"//g.example/x", u"http://g.example/x" },
        { u"?y", u"http://a.example/b/c/d;p?y" },
        { u"g?y", u"http://a.example/b/c/g?y" },
        { u"#s", u"http://a.example/b/c/d;p?q#s" },
        { u"..", u"http://a.example/b/" },
        { u"../g", u"http://a.example/b/g" },
        { u"../../../g", u"http://a.example/g" },
        { u"", u"http://a.example/b/c/d;p?q" },
        { u"https://other.example/feed", u"https://other.example/feed" },
    };
    for (const auto& [ref, expected] : cases) {
        SCOPED_TRACE(QString::fromUtf16(ref).toStdString());
        auto resolved = Url::resolved(QString::fromUtf16(ref), base);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(resolved->absoluteString(), QString::fromUtf16(expected));
    }
    EXPECT_FALSE(Url::resolved(u"a b"_s, base).has_value());
    EXPECT_EQ(
        Url::resolved(u"feed.xml"_s, *Url::fromString(u"http://host.example"_s))->absoluteString(),
        u"http://host.example/feed.xml"_s);
}

// Every example of RFC 3986, 5.4: the normal ones and the abnormal ones, strict parser.
TEST(Url, ResolvesEveryReferenceOfTheStandardsExamples)
{
    const auto base = *Url::fromString(u"http://a/b/c/d;p?q"_s);
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        { u"g:h", u"g:h" },
        { u"g", u"http://a/b/c/g" },
        { u"./g", u"http://a/b/c/g" },
        { u"g/", u"http://a/b/c/g/" },
        { u"/g", u"http://a/g" },
        { u"//g", u"http://g" },
        { u"?y", u"http://a/b/c/d;p?y" },
        { u"g?y", u"http://a/b/c/g?y" },
        { u"#s", u"http://a/b/c/d;p?q#s" },
        { u"g#s", u"http://a/b/c/g#s" },
        { u"g?y#s", u"http://a/b/c/g?y#s" },
        { u";x", u"http://a/b/c/;x" },
        { u"g;x", u"http://a/b/c/g;x" },
        { u"g;x?y#s", u"http://a/b/c/g;x?y#s" },
        { u"", u"http://a/b/c/d;p?q" },
        { u".", u"http://a/b/c/" },
        { u"./", u"http://a/b/c/" },
        { u"..", u"http://a/b/" },
        { u"../", u"http://a/b/" },
        { u"../g", u"http://a/b/g" },
        { u"../..", u"http://a/" },
        { u"../../", u"http://a/" },
        { u"../../g", u"http://a/g" },
        // Abnormal examples.
        { u"../../../g", u"http://a/g" },
        { u"../../../../g", u"http://a/g" },
        { u"/./g", u"http://a/g" },
        { u"/../g", u"http://a/g" },
        { u"g.", u"http://a/b/c/g." },
        { u".g", u"http://a/b/c/.g" },
        { u"g..", u"http://a/b/c/g.." },
        { u"..g", u"http://a/b/c/..g" },
        { u"./../g", u"http://a/b/g" },
        { u"./g/.", u"http://a/b/c/g/" },
        { u"g/./h", u"http://a/b/c/g/h" },
        { u"g/../h", u"http://a/b/c/h" },
        { u"g;x=1/./y", u"http://a/b/c/g;x=1/y" },
        { u"g;x=1/../y", u"http://a/b/c/y" },
        { u"g?y/./x", u"http://a/b/c/g?y/./x" },
        { u"g?y/../x", u"http://a/b/c/g?y/../x" },
        { u"g#s/./x", u"http://a/b/c/g#s/./x" },
        { u"g#s/../x", u"http://a/b/c/g#s/../x" },
        { u"http:g", u"http:g" },
        // An absolute reference loses its dot segments too (5.2.2).
        { u"http://g/a/./b/../c", u"http://g/a/c" },
    };
    for (const auto& [ref, expected] : cases) {
        SCOPED_TRACE(QString::fromUtf16(ref).toStdString());
        const auto resolved = Url::resolved(QString::fromUtf16(ref), base);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(resolved->absoluteString(), QString::fromUtf16(expected));
    }
}

TEST(Url, AppendsPathComponentsAndBuildsEncodedQueries)
{
    const auto base = *Url::fromString(u"http://api.example:4000/api/v1"_s);
    EXPECT_EQ(
        base.appendingPathComponent(u"stories"_s).appendingPathComponent(u"hot"_s).absoluteString(),
        u"http://api.example:4000/api/v1/stories/hot"_s);
    EXPECT_EQ(Url::fromString(u"http://h.example/dir/"_s)
                  ->appendingPathComponent(u"a b/ü"_s)
                  .absoluteString(),
        u"http://h.example/dir/a%20b/%C3%BC"_s);
    // A slash is put in only where neither side has one; two are kept as they are.
    const QList<QPair<QString, QString>> slashes {
        { u"http://h.example/blog"_s, u"http://h.example/blog/i.png"_s },
        { u"http://h.example/blog/"_s, u"http://h.example/blog//i.png"_s },
        { u"http://h.example"_s, u"http://h.example/i.png"_s },
        { u"http://h.example/blog?q=1#f"_s, u"http://h.example/blog/i.png?q=1#f"_s },
    };
    for (const auto& [from, expected] : slashes)
        EXPECT_EQ(
            Url::fromString(from)->appendingPathComponent(u"/i.png"_s).absoluteString(), expected);

    auto withQuery = Url::withQuery(*Url::fromString(u"https://search.example/Web?old=1#f"_s),
        { { u"Query"_s, u"'news & more'"_s }, { u"$format"_s, u"json=1+2"_s } });
    ASSERT_TRUE(withQuery.has_value());
    EXPECT_EQ(withQuery->absoluteString(),
        u"https://search.example/Web?Query=%27news%20%26%20more%27&%24format=json%3D1%2B2#f"_s);
    EXPECT_EQ(Url::percentDecoded(u"%27news%20%26%20more%27%C3%BC"_s), u"'news & more'ü"_s);
    // A lone surrogate (from an unescaped feed text) is encoded as U+FFFD, never as '?'.
    EXPECT_EQ(Url::percentEncoded(u"a"_s + QChar(0xD800) + u"b"_s), u"a%EF%BF%BDb"_s);
    EXPECT_EQ(Url::fromString(u"http://h.example/a/b%20c/"_s)->lastPathComponent(), u"b c"_s);
}

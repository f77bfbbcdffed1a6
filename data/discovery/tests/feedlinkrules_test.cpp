#include "data/discovery/FeedLinkRules.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace FeedLinkRules;

namespace {

QString text(const std::optional<Url>& url) { return url ? url->absoluteString() : u"<none>"_s; }

Url url(const QString& text) { return Url::fromString(text).value_or(Url()); }

struct LinkCase {
    const char16_t* text;
    const char16_t* link;
    const char16_t* expected; // u"<none>" when no address comes out
};

} // namespace

TEST(FeedLinkRules, NormalisesTypedTextAndPageLinks)
{
    const LinkCase cases[] = {
        // "feed://" in any case, and "//", become http.
        { u"FEED://example.com/rss", u"example.com", u"http://example.com/rss" },
        { u"Feed://example.com/a/feed://b", u"x", u"http://example.com/a/http://b" },
        { u"//cdn.example.com/feed.xml", u"http://site.example.com/",
            u"http://cdn.example.com/feed.xml" },
        // A web scheme in any case is left alone, as a browser reads it.
        { u"https://example.com/feed", u"x", u"https://example.com/feed" },
        { u"HTTPS://example.com/feed", u"x", u"HTTPS://example.com/feed" },
        { u"HTTP://fresh.example/feed.xml", u"HTTP://fresh.example/feed.xml",
            u"HTTP://fresh.example/feed.xml" },
        { u"Http://fresh.example", u"x", u"Http://fresh.example" },
        { u"example.com", u"example.com", u"http://example.com" },
        { u"example.com/news", u"example.com/news", u"http://example.com/news" },
        // A root path or a bare name is resolved against the base as a browser does.
        { u"/feed.xml", u"http://example.com/news/", u"http://example.com/feed.xml" },
        { u"/feed.xml", u"https://Example.com:8080/", u"https://Example.com:8080/feed.xml" },
        { u"/feed.xml", u"http://example.com/news", u"http://example.com/feed.xml" },
        { u"/feed.xml", u"example.com", u"http://example.com/feed.xml" },
        { u"rss.xml", u"http://example.com/news/", u"http://example.com/news/rss.xml" },
        { u"rss.xml", u"http://example.com/news", u"http://example.com/rss.xml" },
        { u"rss.xml", u"example.com", u"http://example.com/rss.xml" },
        // Without a usable base the text stays as it is.
        { u"rss.xml", u"no base here", u"rss.xml" },
        { u"/feed.xml", u"no base here", u"/feed.xml" },
        { u"/rss.xml", u"/a/feed://x/", u"/rss.xml" },
        // A link that starts with "/" and holds "feed://" has no base of its own: no endless
        // normalisation of the base.
        { u"/feed://x", u"/feed://x", u"/http://x" },
        { u"rss", u"/feed://x", u"rss" },
        // Texts that are no address.
        { u"tech news.com", u"tech news.com", u"<none>" },
        { u"", u"x", u"http://x" },
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString() + " with link "
            + QString::fromUtf16(c.link).toStdString());
        EXPECT_EQ(text(httpLinkFromString(QString::fromUtf16(c.text), QString::fromUtf16(c.link))),
            QString::fromUtf16(c.expected));
    }
}

TEST(FeedLinkRules, TellsTheSamePageByHostAndPathOnly)
{
    struct Case {
        const char16_t* a;
        const char16_t* b;
        bool same;
    };
    const Case cases[] = {
        { u"http://a.example.com/News/", u"https://user@a.example.com:8080/news?format=rss#top",
            true },
        { u"http://a.example.com", u"http://a.example.com/", true },
        { u"/x", u"/X/", true }, // no host on either side
        { u"http://a.example.com//", u"http://a.example.com",
            false }, // one "/" is dropped, not two
        { u"http://A.example.com/x", u"http://a.example.com/x", false }, // hosts compare exactly
        { u"http://a.example.com/x", u"http://a.example.com/y", false },
        { u"http://a.example.com/x", u"/x", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            QString::fromUtf16(c.a).toStdString() + " / " + QString::fromUtf16(c.b).toStdString());
        EXPECT_EQ(equalURLs(url(QString::fromUtf16(c.a)), url(QString::fromUtf16(c.b))), c.same);
        EXPECT_EQ(equalURLs(url(QString::fromUtf16(c.b)), url(QString::fromUtf16(c.a))), c.same);
    }
    // An address that is no URL names no page at all.
    EXPECT_FALSE(equalURLs(Url(), Url()));
    EXPECT_FALSE(equalURLs(Url(), url(u"http://a.example.com/"_s)));
}

TEST(FeedLinkRules, FindsTheFeedByStagesInOrder)
{
    struct Case {
        const char* name;
        QString page;
        const char16_t* from;
        const char16_t* expected;
    };
    const Case cases[] = {
        { "declared feed, root path",
            uR"(<html><head><link rel="alternate" type="application/rss+xml" title="News" href="/feed.xml"></head></html>)"_s,
            u"http://news.example.com/", u"http://news.example.com/feed.xml" },
        { "declared feed, root path, typed site name",
            uR"(<link type="application/rss+xml" href="/feed.xml">)"_s, u"http://news.example.com",
            u"http://news.example.com/feed.xml" },
        { "declared feed beats an earlier quoted address",
            uR"(<a href='http://other.example.com/rss.xml'>RSS</a><LINK TYPE='APPLICATION/ATOM+XML' HREF='http://news.example.com/atom'>)"_s,
            u"http://news.example.com/", u"http://news.example.com/atom" },
        { "declared feed without href is skipped",
            uR"(<link type="application/rss+xml" title="x"><a href="/feeds/all">all</a>)"_s,
            u"http://news.example.com/", u"http://news.example.com/feeds/all" },
        { "self-referencing feeds give the next candidate",
            uR"(<link type="application/rss+xml" href="http://news.example.com/news/?format=rss"><a href="/feeds/all">feeds</a>)"_s,
            u"http://news.example.com/News", u"http://news.example.com/feeds/all" },
        { "quoted address with a feed extension beats an earlier plain one",
            uR"(<script>var a = 'http://a.example.com/rss'; var b = "http://b.example.com/atom/feed.xml";</script>)"_s,
            u"http://news.example.com/", u"http://b.example.com/atom/feed.xml" },
        { "quoted address ending in the format",
            uR"(x = "http://a.example.com/RSS?x=1" + 'http://c.example.com/path/Atom')"_s,
            u"http://news.example.com/", u"http://c.example.com/path/Atom" },
        { "quoted address with the format inside", uR"(x = "http://a.example.com/rss/top?x=1")"_s,
            u"http://news.example.com/", u"http://a.example.com/rss/top?x=1" },
        { "quoted https is no stage-2 address, but a feed link",
            uR"(<a href="https://secure.example.com/rss">)"_s, u"http://news.example.com/",
            u"https://secure.example.com/rss" },
        { "link naming a format, bare name",
            uR"(<a class=x href='atom.xml'>Atom</a> <a href="/feed/">)"_s,
            u"http://news.example.com/blog/", u"http://news.example.com/blog/atom.xml" },
        { "link naming a feed",
            uR"(<a href="/about">About</a><a href="//cdn.example.com/FeedBurner">)"_s,
            u"http://news.example.com/", u"http://cdn.example.com/FeedBurner" },
        { "page that only names itself",
            uR"(<link type="application/rss+xml" href="http://news.example.com/News/"><a href="http://news.example.com/news?feed=1">)"_s,
            u"http://news.example.com/news", u"<none>" },
        { "page without a candidate", uR"(<html><body><a href="/about">About</a></body></html>)"_s,
            u"http://news.example.com/", u"<none>" },
        { "news-magazine host, whatever the page",
            uR"(<link type="application/rss+xml" href="/other.xml">)"_s,
            u"https://www.NewsMagazine.example.com/world/story",
            u"http://newsmagazine.example.com/feed/news" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text(findRssLink(c.page, url(QString::fromUtf16(c.from)))),
            QString::fromUtf16(c.expected));
    }
}

// A page's feed link is read as a browser reads it, against the page's own address.
TEST(FeedLinkRules, ResolvesADeclaredFeedAgainstItsPage)
{
    struct Case {
        const char16_t* href;
        const char16_t* page;
        const char16_t* expected;
    };
    const Case cases[] = {
        { u"/x", u"http://host/", u"http://host/x" },
        { u"x", u"http://host/", u"http://host/x" },
        { u"../x", u"http://host/", u"http://host/x" },
        { u"//other/x", u"http://host/", u"http://other/x" },
        { u"http://other/x", u"http://host/", u"http://other/x" },
        { u"/x", u"http://host/dir/page", u"http://host/x" },
        { u"x", u"http://host/dir/page", u"http://host/dir/x" },
        { u"../x", u"http://host/dir/page", u"http://host/x" },
        { u"//other/x", u"http://host/dir/page", u"http://other/x" },
        { u"https://other/x", u"http://host/dir/page", u"https://other/x" },
        // A site typed without a path; a page over https keeps its scheme for "//".
        { u"/blog/rss", u"http://myblog.example", u"http://myblog.example/blog/rss" },
        { u"//other/x", u"https://host/dir/page", u"https://other/x" },
        { u"feed://other/x", u"http://host/", u"http://other/x" },
        { u" /x ", u"http://host/dir/page", u"http://host/x" },
        // No web address: no candidate.
        { u"mailto:rss@host", u"http://host/", u"<none>" },
        { u"/a b", u"http://host/", u"<none>" },
    };
    for (const Case& c : cases) {
        const QString href = QString::fromUtf16(c.href);
        SCOPED_TRACE(href.toStdString() + " on " + QString::fromUtf16(c.page).toStdString());
        const QString page
            = u"<link rel=\"alternate\" type=\"application/rss+xml\" href=\""_s + href + u"\">"_s;
        EXPECT_EQ(text(findRssLink(page, url(QString::fromUtf16(c.page)))),
            QString::fromUtf16(c.expected));
    }
}

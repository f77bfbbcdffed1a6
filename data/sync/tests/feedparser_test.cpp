#include "data/sync/DateParser.h"
#include "data/sync/FeedParser.h"
#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>

#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

std::shared_ptr<Source> feedSource()
{
    return std::make_shared<Source>(u"Feed"_s, u"http://feed.example/rss"_s);
}

QString shown(const std::optional<QString>& text)
{
    if (!text)
        return u"(none)"_s;
    QString s = *text;
    s.replace(u'\\', u"\\\\"_s)
        .replace(u'\n', u"\\n"_s)
        .replace(u'\r', u"\\r"_s)
        .replace(u'\t', u"\\t"_s);
    return u'"' + s + u'"';
}

QString shown(const std::optional<Url>& url) { return url ? url->absoluteString() : u"(none)"_s; }

// Everything a parse found, one field a line.
template <typename Feed> QString dump(const Feed& feed)
{
    QStringList lines { u"feed: "_s + (feed.isFeed() ? u"yes"_s : u"no"_s),
        u"title: "_s + shown(feed.title), u"link: "_s + shown(feed.link),
        u"imageURL: "_s + shown(feed.imageURL),
        u"stories: "_s + QString::number(feed.stories.size()) };
    for (const auto& story : feed.stories) {
        lines << u"--"_s << u"headline: "_s + shown(story->headline())
              << u"body: "_s + shown(story->body()) << u"link: "_s + shown(story->link())
              << u"date: "_s
                + (story->date() ? story->date()->toUTC().toString(Qt::ISODate) : u"(none)"_s)
              << u"imageLink: "_s + shown(story->imageLink());
    }
    return lines.join(u'\n') + u'\n';
}

const QString goldenFolder = u"data/sync/tests/data/feeds"_s;

std::vector<std::string> goldenFeeds()
{
    std::vector<std::string> names;
    const QDir dir(TestSupport::sourcePath(goldenFolder));
    for (const QString& name : dir.entryList({ u"*.xml"_s }, QDir::Files, QDir::Name))
        names.push_back(name.toStdString());
    return names;
}

// The plain reading the feed parser must match field for field: every event as text, every date
// through the patterns, every body segmented whole before it is cut.
class ReferenceFeedParser : private XmlParserDelegate {
public:
    ReferenceFeedParser(const QByteArray& data, std::shared_ptr<Source> source)
        : m_source(std::move(source))
    {
        XmlParser parser(data);
        parser.setDelegate(this);
        (void)parser.parse();
    }
    bool isFeed() const { return m_isFeed; }
    std::optional<QString> title;
    std::optional<Url> imageURL;
    std::optional<Url> link;
    QList<std::shared_ptr<NewsStory>> stories;

private:
    static QString cut(const QString& fixed)
    {
        const qsizetype max = FeedParser::descriptionMaxLength;
        return characterCount(fixed) > max ? stringWithSubstringToIndex(fixed, max) : fixed;
    }
    bool isPath(const QStringList& path) const { return stack == path; }
    bool isItemPath() const
    {
        return isPath({ u"rss"_s, u"channel"_s, u"item"_s }) || isPath({ u"feed"_s, u"entry"_s })
            || isPath({ u"rdf:RDF"_s, u"item"_s });
    }
    void didStartElement(const QString& name, const XmlAttributes& attributes) override
    {
        if (stack.isEmpty())
            m_isFeed = name == u"rss"_s || name == u"feed"_s || name == u"rdf:RDF"_s;
        stack.append(name);
        text.reset();
        imageLink.reset();
        for (const auto& [key, value] : attributes) {
            if (value.contains(u"http://"_s, Qt::CaseInsensitive)) {
                if (auto image = getImageLink(value.trimmed()))
                    imageLink = image;
            }
            if (name == u"link"_s && key == u"href"_s) {
                if (auto url = Url::fromString(value))
                    (isPath({ u"feed"_s, u"link"_s }) ? link : storyLink) = url;
            }
        }
    }
    void foundCharacters(const QString& chunk) override { text = text.value_or(QString()) + chunk; }
    void didEndElement(const QString& name) override
    {
        if (isItemPath() && m_source) {
            std::optional<QDateTime> parsed
                = date ? DateParser().parseDateWithPatterns(*date) : std::nullopt;
            if (!parsed && updated)
                parsed = DateParser().parseDateWithPatterns(*updated);
            auto story = std::make_shared<NewsStory>(headline, body, storyLink, parsed, m_source);
            if (imageLink)
                story->setImageLink(imageLink);
            else if (body)
                story->setImageLink(getImageLink(markupOutsideScripts(fixHTMLEncodings(*body))));
            stories.append(story);
            headline.reset();
            body.reset();
            storyLink.reset();
            date.reset();
            updated.reset();
            imageLink.reset();
        }
        if (isPath({ u"rss"_s, u"channel"_s, u"title"_s }) || isPath({ u"feed"_s, u"title"_s })
            || isPath({ u"rdf:RDF"_s, u"channel"_s, u"title"_s }))
            title = text;
        if (text && isPath({ u"rss"_s, u"channel"_s, u"link"_s })
            && Url::fromString(text->trimmed()))
            link = Url::fromString(text->trimmed());
        if (text && isPath({ u"rss"_s, u"channel"_s, u"image"_s, u"url"_s })
            && Url::fromString(text->trimmed()))
            imageURL = Url::fromString(text->trimmed());
        if (!stack.isEmpty())
            stack.removeLast();
        if (!text || text->isEmpty() || !isItemPath())
            return;
        if (name == u"title"_s)
            headline = FeedParser::fixText(*text);
        else if (name == u"link"_s && Url::fromString(text->trimmed()))
            storyLink = Url::fromString(text->trimmed());
        else if (name == u"content"_s || name == u"description"_s) {
            body = cut(FeedParser::fixText(markupOutsideScripts(*text)));
        } else if (name == u"pubDate"_s || name == u"dc:date"_s || name == u"published"_s)
            date = text->trimmed();
        else if (name == u"updated"_s && stack.first() == u"feed"_s)
            updated = text->trimmed();
    }

    std::shared_ptr<Source> m_source;
    bool m_isFeed = false;
    QStringList stack;
    std::optional<QString> text, headline, body, date, updated;
    std::optional<Url> storyLink, imageLink;
};

class FeedParserGolden : public ::testing::TestWithParam<std::string> { };

} // namespace

// Each x.xml beside x.xml.expected; TICKERLY_UPDATE_GOLDEN=1 rewrites the expected files.
TEST_P(FeedParserGolden, ReadsTheDocumentAsExpected)
{
    const QString path
        = TestSupport::sourcePath(goldenFolder + u'/' + QString::fromStdString(GetParam()));
    const FeedParser feed(TestSupport::readFile(path), feedSource());
    const QString actual = dump(feed);
    if (qEnvironmentVariableIsSet("TICKERLY_UPDATE_GOLDEN")) {
        QFile out(path + u".expected"_s);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(actual.toUtf8());
        return;
    }
    EXPECT_EQ(actual, QString::fromUtf8(TestSupport::readFile(path + u".expected"_s)));
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, FeedParserGolden, ::testing::ValuesIn(goldenFeeds()), [](const auto& param) {
        std::string name = param.param.substr(0, param.param.find('.'));
        for (char& c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(FeedParser, ReadsFeedDetailsButMakesNoStoriesWithoutASource)
{
    const FeedParser feed(
        TestSupport::readFile(TestSupport::sourcePath(goldenFolder + u"/rss2.xml"_s)), nullptr);
    EXPECT_TRUE(feed.isFeed());
    EXPECT_EQ(feed.title, u"\n  Example News  "_s);
    EXPECT_EQ(shown(feed.link), u"http://news.example/"_s);
    EXPECT_EQ(shown(feed.imageURL), u"http://news.example/logo.png"_s);
    EXPECT_TRUE(feed.stories.isEmpty());
}

// An Atom entry without a readable "published" is dated by its own "updated"; other formats and
// the feed's own "updated" date nothing.
TEST(FeedParser, DatesEveryStoryByItsOwnDateElement)
{
    const QByteArray published = "<published>2021-03-04T05:06:07Z</published>";
    const QByteArray updated = "<updated>2022-01-02T03:04:05+01:00</updated>";
    const auto atom = [](const QByteArray& entry) {
        return "<feed xmlns=\"http://www.w3.org/2005/Atom\"><updated>2030-01-01T00:00:00Z</updated>"
               "<entry><title>t</title>"
            + entry + "</entry></feed>";
    };
    struct Case {
        const char* name;
        QByteArray document;
        const char* date;
    };
    const Case cases[] = {
        { "atom, published only", atom(published), "2021-03-04T05:06:07Z" },
        { "atom, updated only", atom(updated), "2022-01-02T02:04:05Z" },
        { "atom, published then updated", atom(published + updated), "2021-03-04T05:06:07Z" },
        { "atom, updated then published", atom(updated + published), "2021-03-04T05:06:07Z" },
        { "atom, neither (the feed's own updated is not the entry's)", atom("<id>x</id>"),
            nullptr },
        { "atom, unreadable published", atom("<published>soon</published>" + updated),
            "2022-01-02T02:04:05Z" },
        { "atom, empty updated", atom("<updated></updated>"), nullptr },
        { "atom, updated inside another child",
            atom("<author><updated>2022-01-02T03:04:05Z</updated></author>"), nullptr },
        { "rss, pubDate",
            "<rss><channel><item><pubDate>Tue, 10 Jun 2003 04:00:00 "
            "GMT</pubDate></item></channel></rss>",
            "2003-06-10T04:00:00Z" },
        { "rss, updated is not read", "<rss><channel><item>" + updated + "</item></channel></rss>",
            nullptr },
        { "rdf, dc:date", "<rdf:RDF><item><dc:date>2002-09-05T00:00:01Z</dc:date></item></rdf:RDF>",
            "2002-09-05T00:00:01Z" },
        { "rdf, updated is not read", "<rdf:RDF><item>" + updated + "</item></rdf:RDF>", nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FeedParser feed(c.document, feedSource());
        ASSERT_EQ(feed.stories.size(), 1);
        const auto& date = feed.stories.first()->date();
        EXPECT_EQ(date ? date->toUTC().toString(Qt::ISODate) : u"(none)"_s,
            c.date ? QString::fromUtf8(c.date) : u"(none)"_s);
    }

    // Two entries: the fields of the first are not the second's.
    const FeedParser two(atom(updated + "</entry><entry>"), feedSource());
    ASSERT_EQ(two.stories.size(), 2);
    EXPECT_TRUE(two.stories[0]->date());
    EXPECT_FALSE(two.stories[1]->date());
}

// A feed's stories share memory that goes only with the last of them, whichever thread lets it
// go, and long after their parser is gone.
TEST(FeedParser, StoriesOutliveTheirParserAndEachOther)
{
    QByteArray document = "<rss><channel>";
    for (int i = 0; i < 600; ++i)
        document += "<item><title>Story " + QByteArray::number(i)
            + "</title><link>http://a.example/" + QByteArray::number(i) + "</link></item>";
    document += "</channel></rss>";
    auto source = std::make_shared<Source>(u"A"_s, u"http://a.example/feed"_s);
    QList<std::shared_ptr<NewsStory>> kept;
    QList<std::shared_ptr<NewsStory>> elsewhere;
    {
        FeedParser feed(document, source);
        ASSERT_EQ(feed.stories.size(), 600);
        for (qsizetype i = 0; i < feed.stories.size(); ++i)
            (i % 7 == 3 ? kept : elsewhere).append(feed.stories[i]);
    }
    std::thread([list = std::move(elsewhere)]() mutable {
        for (const auto& story : list)
            ASSERT_TRUE(story->headline().has_value());
        list.clear();
    }).join();
    for (const auto& story : kept) {
        const qsizetype i = story->headline()->mid(6).toLongLong();
        EXPECT_EQ(i % 7, 3);
        EXPECT_EQ(story->link()->absoluteString(), u"http://a.example/"_s + QString::number(i));
        EXPECT_EQ(story->source(), source);
    }
}

TEST(FeedParser, CleansTextLikeAStoryShowsIt)
{
    EXPECT_EQ(FeedParser::fixText(u"Hello <b>world</b>"_s), u"Hello world"_s);
    EXPECT_EQ(FeedParser::fixText(u" \t a &lt;b&gt; c\n "_s), u"a <b> c"_s);
    EXPECT_EQ(FeedParser::fixText(u"&nbsp;x"_s), u"\u00a0x"_s);
    EXPECT_EQ(FeedParser::fixText(u"\r\nkeep\r"_s), u"\rkeep\r"_s);
    EXPECT_EQ(FeedParser::fixText(QString(150, u'a'), 100), QString(100, u'a'));
    EXPECT_EQ(FeedParser::fixText(u"<<>>"_s), u">"_s);

    // Cut in characters, whatever the clusters look like.
    const QStringList pieces { u"a"_s, u"e\u0301"_s, u"\U0001F1E9\U0001F1EA"_s,
        u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_s, u"\u0915\u094D\u0937"_s, u"\r\n"_s,
        QString(40, u'\u0301'), u"\U0001F1E9"_s };
    for (int seed = 0; seed < 200; ++seed) {
        QString text;
        for (int i = 0; i < 30 + seed; ++i)
            text += pieces[(seed * 7 + i * (seed % 5 + 1)) % pieces.size()];
        const QString fixed = FeedParser::fixText(text);
        for (const qsizetype max : { 0, 1, 5, 100 }) {
            const QString expected
                = characterCount(fixed) > max ? stringWithSubstringToIndex(fixed, max) : fixed;
            EXPECT_EQ(FeedParser::fixText(text, max), expected) << seed << ' ' << max;
        }
    }
}

TEST(FeedParser, CutsLongBodiesFromTheirStartAsFromTheWholeText)
{
    // Long bodies are read from their start only as far as the cut needs: pieces that straddle
    // where a start ends (tags, entities, spaces at either side, clusters, bytes that are no
    // UTF-8) must not change what a story keeps.
    const QList<QByteArray> pieces { "word ", "word ", "word ", "word ", "word\xC3\xA9 ", "<p>",
        "</p>\n", "<img src=\"http://a.example/x.jpg\" alt=\"a > b\">",
        "<div style=\"" + QByteArray(300, 'x') + "\">", "<", ">", "&amp;", "&#8217;", "&", ";",
        "&nbsp;", " ", "\t", "\xC2\xA0", "\xE2\x80\x83", "\n", "\r\n", "\xC3\xA9", "e\xCC\x81",
        "\xF0\x9F\x98\x80", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", QByteArray(700, ' '),
        "<!-- " + QByteArray(900, '-') + " -->", "\xFF", "\x80", "\xE2\x82" };
    QRandomGenerator random(17);
    for (int round = 0; round < 400; ++round) {
        QByteArray body;
        const qsizetype size
            = round % 2 ? 2000 + random.bounded(30000) : 100 + random.bounded(1900);
        // Some bodies hide their text behind kilobytes of markup.
        if (round % 4 == 0)
            body += QByteArray(random.bounded(6000), ' ') + "<span>";
        while (body.size() < size)
            body += pieces[random.bounded(int(pieces.size()))];
        for (const qsizetype max : { 0, 1, 100, 250 }) {
            ASSERT_EQ(FeedParser::fixText(QByteArrayView(body), max),
                FeedParser::fixText(QString::fromUtf8(body), max))
                << round << ' ' << max;
        }
    }
}

TEST(FeedParser, TellsFeedsFromOtherDocuments)
{
    for (const QByteArray& notFeed : { QByteArray(), QByteArray("<html><body>Portal</body></html>"),
             QByteArray("{\"json\":1}") }) {
        const FeedParser feed(notFeed, feedSource());
        EXPECT_FALSE(feed.isFeed());
        EXPECT_TRUE(feed.stories.isEmpty());
    }
    EXPECT_TRUE(FeedParser("<rss version=\"2.0\"><channel/></rss>", feedSource()).isFeed());
    EXPECT_TRUE(FeedParser("<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", feedSource()).isFeed());
}

TEST(FeedParser, EndsHostileDocumentsQuicklyWithoutReadingLocalFiles)
{
    QTemporaryDir dir;
    QFile secret(dir.filePath(u"secret.txt"_s));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("TOPSECRET");
    secret.close();
    const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY x SYSTEM \"file://"
        + secret.fileName().toUtf8()
        + "\">]><rss><channel><title>&x;</title><item><title>&x;</title></item></channel></rss>";
    const FeedParser xxe(external, feedSource());
    EXPECT_FALSE(xxe.title.value_or(QString()).contains(u"TOPSECRET"_s));
    for (const auto& story : xxe.stories)
        EXPECT_FALSE(story->headline()->contains(u"TOPSECRET"_s));

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY l0 \"ha\">";
    for (int i = 1; i < 12; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \""
            + QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]><rss><channel><item><title>&l11;</title></item><item><title>after</title></item></"
              "channel></rss>";
    const FeedParser bomb(laughs, feedSource());
    for (const auto& story : bomb.stories)
        EXPECT_LT(story->headline()->size(), 10'000'000);

    // 50 MB in one text: past the parser's size limit, it ends in an error, keeping what came
    // before.
    QByteArray huge = "<rss><channel><item><title>before</title></item><item><description>";
    huge += QByteArray(50 * 1024 * 1024, 'x');
    huge += "</description></item></channel></rss>";
    const FeedParser big(huge, feedSource());
    ASSERT_GE(big.stories.size(), 1);
    EXPECT_EQ(big.stories.first()->headline(), u"before"_s);
}

// Every field of every story, over the real-world feeds, our golden feeds and bodies whose cut
// falls among long clusters, is what the plain reading gives.
// A description's scripts and styles are no part of what it shows: an address one of them builds
// is no picture of the story, while the text around them still gives one.
TEST(FeedParser, FindsAStorysPictureOutsideScriptsStylesAndComments)
{
    const auto pictureOf = [](const QByteArray& description) {
        const FeedParser feed("<rss><channel><item><title>t</title><description>" + description
                + "</description></item></channel></rss>",
            feedSource());
        return feed.stories.size() == 1 ? shown(feed.stories.first()->imageLink()) : u"no story"_s;
    };
    const QString none = shown(std::optional<Url>());
    EXPECT_EQ(pictureOf("<![CDATA[<script>new Image().src=\"http://track.test/script.png\""
                        "</script><img src=\"body.png\">]]>"),
        none);
    EXPECT_EQ(pictureOf("&lt;script&gt;new Image().src=\"http://track.test/script.png\""
                        "&lt;/script&gt;&lt;img src=\"body.png\"&gt;"),
        none);
    EXPECT_EQ(pictureOf("<![CDATA[<style>p { background: url(\"http://s.test/bg.png\") }</style>"
                        "<SCRIPT type=\"text/javascript\">x = 'http://s.test/x.gif'</SCRIPT>"
                        "see http://ok.test/p.jpg]]>"),
        u"http://ok.test/p.jpg"_s);
    EXPECT_EQ(pictureOf("<![CDATA[<!-- http://c.test/a.png > --> shown http://ok.test/q.png]]>"),
        u"http://ok.test/q.png"_s);
    // An unclosed script hides the rest.
    EXPECT_EQ(pictureOf("<![CDATA[<script>var u = \"http://track.test/open.jpg\";]]>"), none);
    EXPECT_EQ(pictureOf("photo http://ok.test/plain.jpg"), u"http://ok.test/plain.jpg"_s);
}

// A browser shows nothing of a script, a style or a comment, and neither does a story's body.
TEST(FeedParser, ShowsNothingOfScriptsStylesAndCommentsInABody)
{
    const auto bodyOf = [](const QByteArray& description) {
        const FeedParser feed("<rss><channel><item><title>t</title><description>" + description
                + "</description></item></channel></rss>",
            feedSource());
        return feed.stories.size() == 1 ? feed.stories.first()->body().value_or(u"none"_s)
                                        : u"no story"_s;
    };
    EXPECT_EQ(bodyOf("<![CDATA[<script>var x = 1;</script><p>Real text</p>"
                     "<style>p{color:red}</style>]]>"),
        u"Real text"_s);
    EXPECT_EQ(bodyOf("&lt;SCRIPT type=\"text/javascript\"&gt;track()&lt;/SCRIPT&gt;Shown"
                     "&lt;!-- hidden --&gt;"),
        u"Shown"_s);
    // Past the cut: what a script holds takes none of the body's hundred characters.
    EXPECT_EQ(bodyOf("<![CDATA[<script>" + QByteArray(300, 'x') + "</script>" + QByteArray(150, 'y')
                  + "]]>"),
        QString(FeedParser::descriptionMaxLength, u'y'));
    // An unclosed script hides the rest; an escaped one shows as the text it is.
    EXPECT_EQ(bodyOf("<![CDATA[before<script>var x = 1;]]>"), u"before"_s);
    EXPECT_EQ(bodyOf("<![CDATA[&lt;script&gt;1&lt;/script&gt;]]>"), u"<script>1</script>"_s);
}

TEST(FeedParser, ReadsEveryFeedExactlyAsThePlainReadingDoes)
{
    QList<QByteArray> documents;
    const TestSupport::FeedFiles files
        = TestSupport::feedFiles(u"FeedParser.ReadsEveryFeedExactlyAsThePlainReadingDoes"_s);
    for (const QString& path : files.all())
        documents << TestSupport::readFile(path);
    int ownStories = 0;
    int outsideStories = 0;
    const QString clusters[]
        = { u"e\u0301"_s, u"\U0001F469\u200D\U0001F4BB"_s, u"\U0001F1E9\U0001F1EA"_s,
              u"a"_s + QString(300, QChar(0x0301)), u"\r\n"_s, u"\U0001F600"_s };
    for (int lead = 0; lead < 12; ++lead) {
        for (const QString& cluster : clusters) {
            QString body = QString(90 + lead, u'x');
            for (int i = 0; i < 40; ++i)
                body += cluster;
            documents << (u"<rss><channel><item><description>"_s + body
                + u"</description></item></channel></rss>"_s)
                             .toUtf8();
        }
    }
    // Links, dates and headlines read from their bytes, with white space of every kind around
    // them, text outside ASCII, mixed content and text in elements a story does not keep.
    const QByteArray spaces[]
        = { "", " ", "\t\r\n", "\xC2\xA0", "\xC2\x85", "\xE2\x80\x83", "\x0B\x0C", "\xFF" };
    const QByteArray values[] = { "http://a.example/p?q=1#f", "Tue, 10 Jun 2003 04:00:00 GMT",
        "2019-02-16T07:00:00Z", "Thu, 05 Sep 2002 0:00:01 GMT", "10 Jun 2003 04:00 +0200",
        "Plain headline", "caf\xC3\xA9", "http://caf\xC3\xA9.example/",
        "a <b>bold</b> &amp;amp; move", "Tue, 10 Jun 2003 04:00:00 BST" };
    for (const QByteArray& before : spaces) {
        for (const QByteArray& after : spaces) {
            QByteArray items;
            for (const QByteArray& value : values) {
                const QByteArray text = before + value + after;
                items += "<item><title>" + text + "</title><link>" + text + "</link><pubDate>"
                    + text + "</pubDate></item>";
            }
            documents << "<rss><channel><link>" + before + values[0] + after + "</link>" + items
                    + "</channel></rss>";
        }
    }
    documents
        << "<rss><channel><item><title>a<b>x</b>c</title><link>http://a.example/<i>1</i></link>"
           "<description>one<p>two</p>three<![CDATA[<img "
           "src=\"http://a.example/i.png\">]]></description>"
           "<guid>http://a.example/g</guid><item><title>inner</title></item><pubDate>Tue, 10 Jun "
           "2003 04:00:00 GMT"
           "<x/></pubDate><category>c</category></item><junk><title>t</title></junk></channel></"
           "rss>";
    for (qsizetype d = 0; d < documents.size(); ++d) {
        const QByteArray& document = documents[d];
        const FeedParser feed(document, feedSource());
        const ReferenceFeedParser reference(document, feedSource());
        EXPECT_EQ(dump(feed), dump(reference)) << document.left(300).toStdString();
        if (d < files.own.size())
            ownStories += int(reference.stories.size());
        else if (d < files.own.size() + files.outside.size())
            outsideStories += int(reference.stories.size());
        for (qsizetype i = 0; i < std::min(feed.stories.size(), reference.stories.size()); ++i) {
            const auto date = feed.stories[i]->date();
            const auto expected = reference.stories[i]->date();
            EXPECT_EQ(date, expected);
            EXPECT_EQ(date ? date->timeSpec() : Qt::LocalTime,
                expected ? expected->timeSpec() : Qt::LocalTime);
        }
    }
    // The files must really have been read, not found empty.
    std::cout << ownStories << " stories of the project's own feeds and " << outsideStories
              << " of the outside corpus\n";
    EXPECT_GE(ownStories, 30);
    if (!files.outside.isEmpty()) {
        EXPECT_GE(outsideStories, 500);
    }
}

// Real-world feeds, read in place: none may crash or hang the parser.
TEST(FeedParser, ReadsEveryCorpusFeedWithoutFailing)
{
    const TestSupport::FeedFiles feeds
        = TestSupport::feedFiles(u"FeedParser.ReadsEveryCorpusFeedWithoutFailing"_s);
    int files = 0;
    for (const QString& path : feeds.all()) {
        const FeedParser withSource(TestSupport::readFile(path), feedSource());
        const FeedParser without(TestSupport::readFile(path), nullptr);
        EXPECT_TRUE(without.stories.isEmpty()) << path.toStdString();
        for (const auto& story : withSource.stories)
            EXPECT_LE(story->body()->size(), 2 * FeedParser::descriptionMaxLength)
                << path.toStdString();
        ++files;
    }
    EXPECT_GT(files, 0);
}

// A feed read as it arrives, whatever its pieces, is read as the whole document is.
TEST(FeedParser, ReadsAFeedArrivingInPiecesAsItReadsItWhole)
{
    const TestSupport::FeedFiles files
        = TestSupport::feedFiles(u"FeedParser.ReadsAFeedArrivingInPiecesAsItReadsItWhole"_s);
    int stories = 0;
    for (const QString& path : files.all()) {
        const QByteArray document = TestSupport::readFile(path);
        const FeedParser whole(document, feedSource());
        for (const qsizetype size : { 1, 7, 16 * 1024 }) {
            FeedParser arriving(feedSource());
            for (qsizetype at = 0; at < document.size(); at += size)
                arriving.push(
                    QByteArrayView(document).sliced(at, std::min(size, document.size() - at)));
            arriving.finish();
            EXPECT_EQ(dump(arriving), dump(whole)) << size << ": " << path.toStdString();
            EXPECT_EQ(arriving.isFeed(), whole.isFeed()) << path.toStdString();
        }
        stories += int(whole.stories.size());
    }
    EXPECT_GT(stories, 30);
}

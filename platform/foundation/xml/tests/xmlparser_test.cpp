#include "platform/foundation/xml/XmlMarkupScan_p.h"
#include "platform/foundation/xml/XmlParser.h"
#include "testsupport/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Records events as one line each: "<name a=v>", "</name>", "'text'" (adjacent text joined).
struct Recorder : XmlParserDelegate {
    QStringList events;
    void didStartElement(const QString& name, const XmlAttributes& attributes) override
    {
        QString line = u'<' + name;
        for (const auto& [k, v] : attributes)
            line += u' ' + k + u'=' + v;
        events.append(line + u'>');
    }
    void didEndElement(const QString& name) override { events.append(u"</"_s + name + u'>'); }
    void foundCharacters(const QString& text) override
    {
        if (!events.isEmpty() && events.last().startsWith(u'\''))
            events.last().insert(events.last().size() - 1, text);
        else
            events.append(u'\'' + text + u'\'');
    }
};

// A file of `contents` in `dir`; its path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& contents)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return QString();
    return file.fileName();
}

// The events of `document` pushed in pieces of `size` bytes (cut at random sizes below `size`
// when `random` is given).
QStringList pushed(
    const QByteArray& document, qsizetype size, bool* ok, std::mt19937* random = nullptr)
{
    Recorder recorder;
    XmlParser parser;
    parser.setDelegate(&recorder);
    for (qsizetype at = 0; at < document.size();) {
        const qsizetype n = random ? 1 + qsizetype((*random)() % size) : size;
        parser.push(QByteArrayView(document).sliced(at, std::min(n, document.size() - at)));
        at += n;
    }
    *ok = parser.finish();
    return recorder.events;
}

QStringList parse(const QByteArray& document, bool* ok = nullptr)
{
    Recorder recorder;
    XmlParser parser(document);
    parser.setDelegate(&recorder);
    const bool result = parser.parse();
    if (ok)
        *ok = result;
    return recorder.events;
}

} // namespace

TEST(XmlParser, DeliversNamesAsWrittenWithDecodedTextAndAttributes)
{
    bool ok = false;
    const auto events = parse("<?xml version=\"1.0\"?>\n"
                              "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                              "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                              "<dc:date>2024</dc:date><a href=\"x?a=1&amp;b=&#50;\" "
                              "t='&lt;&#x41;&gt;'>Tom &amp; Jerry &#169;</a>"
                              "<![CDATA[<b>bold</b> & raw]]></rdf:RDF>",
        &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(events,
        (QStringList {
            u"<rdf:RDF xmlns:rdf=http://www.w3.org/1999/02/22-rdf-syntax-ns# xmlns:dc=http://purl.org/dc/elements/1.1/>"_s,
            u"<dc:date>"_s, u"'2024'"_s, u"</dc:date>"_s, u"<a href=x?a=1&b=2 t=<A>>"_s,
            u"'Tom & Jerry ©'"_s, u"</a>"_s, u"'<b>bold</b> & raw'"_s, u"</rdf:RDF>"_s }));
}

TEST(XmlParser, GivesEveryElementItsWholeName)
{
    // Forty names, each the one before it and a letter more, nested, then again as empty elements
    // in the other order: more names than the parser keeps lengths of at once.
    QByteArray document = "<r>";
    QStringList expected { u"<r>"_s };
    for (int n = 1; n <= 40; ++n) {
        document += '<' + QByteArray(n, 'n') + '>';
        expected << u'<' + QString(n, u'n') + u'>';
    }
    for (int n = 40; n >= 1; --n) {
        document += "</" + QByteArray(n, 'n') + '>';
        expected << u"</"_s + QString(n, u'n') + u'>';
    }
    for (int n = 40; n >= 1; --n) {
        document += '<' + QByteArray(n, 'n') + "/>";
        expected << u'<' + QString(n, u'n') + u'>' << u"</"_s + QString(n, u'n') + u'>';
    }
    document += "</r>";
    expected << u"</r>"_s;
    bool ok = false;
    EXPECT_EQ(parse(document, &ok), expected);
    EXPECT_TRUE(ok);
}

TEST(XmlParser, StopsAtTheFirstErrorAndKeepsWhatCameBefore)
{
    bool ok = true;
    const auto cut = parse("<rss><channel><item><title>One</title></item><item><title>Tw", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(cut.contains(u"'One'"_s));
    EXPECT_TRUE(cut.contains(u"</item>"_s));

    const auto broken = parse("<rss><a>x</b><c>never</c></rss>", &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(broken.contains(u"<c>"_s));

    // An entity HTML knows but XML does not is an error, as in any XML parser.
    parse("<rss><title>a&nbsp;b</title></rss>", &ok);
    EXPECT_FALSE(ok);

    for (const QByteArray& bad : { QByteArray(), QByteArray("   "), QByteArray("<html><body>"),
             QByteArray("\x00\xff\xfe", 3) }) {
        parse(bad, &ok);
        EXPECT_FALSE(ok);
    }
}

TEST(XmlParser, DecodesTheDeclaredEncoding)
{
    bool ok = false;
    const auto events = parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t>caf\xe9</t>", &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(events.contains(u"'café'"_s));
}

TEST(XmlParser, NeverLoadsExternalEntitiesOrExpandsWithoutBound)
{
    QTemporaryDir dir;
    const QString secretPath = writeFile(dir, u"secret.txt"_s, "TOPSECRET");
    ASSERT_FALSE(secretPath.isEmpty());

    bool ok = true;
    const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://"
        + secretPath.toUtf8() + "\">]><r>&x;</r>";
    const auto events = parse(external, &ok);
    EXPECT_FALSE(events.join(u' ').contains(u"TOPSECRET"_s));

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY l0 \"ha\">";
    for (int i = 1; i < 12; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \""
            + QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    laughs += "]><l>&l11;</l>";
    qsizetype delivered = 0;
    struct Counter : XmlParserDelegate {
        qsizetype* n;
        void foundCharacters(const QString& t) override { *n += t.size(); }
    } counter;
    counter.n = &delivered;
    XmlParser parser(laughs);
    parser.setDelegate(&counter);
    EXPECT_FALSE(parser.parse());
    EXPECT_LT(delivered, 10'000'000);

    // One flat entity used over and over: 200 kB that would grow to 2.5 G characters.
    const QByteArray repeated = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \""
        + QByteArray(50'000, 'a') + "\">]><l t=\"&a;&a;\">" + QByteArray("&a;").repeated(50'000)
        + "</l>";
    delivered = 0;
    XmlParser flat(repeated);
    flat.setDelegate(&counter);
    EXPECT_FALSE(flat.parse());
    EXPECT_LT(delivered, 2'000'000);

    // A few small declared entities still read.
    ok = false;
    const auto small
        = parse("<!DOCTYPE r [<!ENTITY me \"Tickerly\">]><r a=\"&me;\">&me; &me;</r>", &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(small.contains(u"'Tickerly Tickerly'"_s));
    EXPECT_TRUE(small.contains(u"<r a=Tickerly>"_s));
}

TEST(XmlParser, ADelegateCanAbortAndNoEventFollows)
{
    struct Aborter : XmlParserDelegate {
        XmlParser* parser = nullptr;
        int starts = 0;
        void didStartElement(const QString&, const XmlAttributes&) override
        {
            if (++starts == 2)
                parser->abortParsing();
        }
    } aborter;
    XmlParser parser("<a><b/><c/><d/></a>");
    aborter.parser = &parser;
    parser.setDelegate(&aborter);
    EXPECT_FALSE(parser.parse());
    EXPECT_EQ(aborter.starts, 2);
}

TEST(XmlParser, ReadsHtmlEntitiesOfDocumentsWithAnUnreadExternalDtd)
{
    QTemporaryDir dir;
    const QString dtd = writeFile(dir, u"feed.dtd"_s, "<!ENTITY secret \"TOPSECRET\">");
    ASSERT_FALSE(dtd.isEmpty());

    bool ok = false;
    const auto events
        = parse("<?xml version=\"1.0\"?>\n"
                "<!DOCTYPE rss PUBLIC \"-//Netscape Communications//DTD RSS 0.91//EN\" \"file://"
                + dtd.toUtf8()
                + "\">\n"
                  "<rss version=\"0.91\"><channel>"
                  "<item><title>a&nbsp;b &eacute; &euro;&secret;</title><link "
                  "t=\"x&copy;y&bogus;z\">l</link></item>"
                  "<item><title>Two&bogus;</title></item>"
                  "</channel></rss>",
            &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(events.contains(u"'a\u00a0b é €'"_s)) << events.join(u' ').toStdString();
    EXPECT_TRUE(events.contains(u"<link t=x©yz>"_s));
    EXPECT_TRUE(events.contains(u"'Two'"_s));
    EXPECT_EQ(events.last(), u"</rss>"_s);

    // A standalone document promises it needs no DTD: the entity is an error again.
    parse("<?xml version=\"1.0\" standalone=\"yes\"?><!DOCTYPE r SYSTEM \"r.dtd\"><r>&nbsp;</r>",
        &ok);
    EXPECT_FALSE(ok);
}

TEST(XmlParser, EndsAtAStartTagItWouldTakeTooLongOver)
{
    QByteArray flood = "<rss><channel><item><title>kept</title></item><item ";
    for (int i = 0; i < 300'000; ++i)
        flood += 'a' + QByteArray::number(i) + "=\"\" ";
    flood += "/></channel></rss>";
    bool ok = true;
    auto events = parse(flood, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(events.contains(u"'kept'"_s));
    EXPECT_FALSE(events.contains(u"</rss>"_s));

    // The same in UTF-16, and one tag of a few huge values.
    QString wide = QString::fromLatin1(flood);
    QByteArray utf16("\xff\xfe", 2);
    utf16.append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
    parse(utf16, &ok);
    EXPECT_FALSE(ok);
    parse(
        "<r a=\"" + QByteArray(600'000, 'x') + "\" b=\"" + QByteArray(600'000, 'x') + "\"/>", &ok);
    EXPECT_FALSE(ok);
    // Wherever the tag begins within the words the scan reads at a time.
    QByteArray many = " ";
    for (int i = 0; i < 5000; ++i)
        many += 'a' + QByteArray::number(i) + "='' ";
    for (int pad = 0; pad < 20; ++pad) {
        events = parse("<r><t>" + QByteArray(pad, 'x') + "</t>" + QByteArray(pad, ' ') + "<s" + many
                + "/></r>",
            &ok);
        EXPECT_FALSE(ok) << pad;
        EXPECT_FALSE(events.contains(u"</r>"_s)) << pad;
    }

    // Markup and quotes in values, comments, CDATA and the DOCTYPE do not count as attributes.
    QByteArray busy = "<!DOCTYPE r [<!ENTITY e \"<a b='>'>\"><!-- a < b -->]><r>";
    for (int i = 0; i < 5000; ++i)
        busy += "<a x=\"1>'\" y='\"'/><!-- <b c=\" --><![CDATA[<d e=\"]]><?p <f g=\"?>";
    busy += "<s";
    for (int i = 0; i < 4000; ++i)
        busy += " a" + QByteArray::number(i) + "='v'";
    busy += "/></r>";
    events = parse(busy, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(events.last(), u"</r>"_s);
}

TEST(XmlParser, TheBlockScanFindsWhatAUnitByUnitScanFinds)
{
    // The scan reads 64 bytes at a time: every kind of markup is put at every place in a block,
    // quotes and markup characters in text too.
    const auto same = [](const QByteArray& document) {
        const XmlMarkup fast = scanXmlMarkup(document);
        const XmlMarkup plain = scanXmlMarkupUnitByUnit(document);
        EXPECT_EQ(fast.oversizedStartTag, plain.oversizedStartTag)
            << document.left(300).toStdString();
        EXPECT_EQ(fast.cdataBytes, plain.cdataBytes) << document.left(300).toStdString();
        return fast;
    };
    const QByteArray pieces[] = { "<a>", "</a>", "<b c=\"x>y\" d='\"'>", "<e/>", "text",
        "it's \"quoted\"", "<!-- <c d=\" -->", "<![CDATA[<e f=\"]]>", "<?p <g h=\"?>",
        "<!DOCTYPE r [<!ENTITY e \"<\">]>", "<", ">", "!", "?", "/", "<x", "'", "\"", "\n",
        "&amp;" };
    std::mt19937 random(17);
    for (int n = 0; n < 4000; ++n) {
        QByteArray document;
        const qsizetype size = qsizetype(random() % 600);
        while (document.size() < size)
            document += pieces[random() % std::size(pieces)];
        same(document);
    }
    for (int offset = 0; offset < 130; ++offset) {
        for (const char* markup :
            { "<!-- <c d=\" -->", "<![CDATA[<e f=\"]]>", "<?p <g h=\"?>", "<c d='>'>", "</a><b" })
            same("<r>" + QByteArray(offset, ' ') + markup + "</r>");
    }
    // A start tag just inside and just past each bound, starting anywhere in a block and left
    // open at the end of a block.
    QByteArray attributes;
    for (qsizetype i = 0; i < xmlMaxAttributes; ++i)
        attributes += " a" + QByteArray::number(i) + "=''";
    for (const qsizetype offset : { 0, 1, 62, 63, 64, 65 }) {
        const QByteArray before = "<r>" + QByteArray(offset, ' ');
        const qsizetype tag = before.size();
        const QByteArray name(xmlMaxStartTagBytes - 2, 'n');
        EXPECT_EQ(same(before + "<" + name + "/></r>").oversizedStartTag, -1);
        EXPECT_EQ(same(before + "<" + name + "n/></r>").oversizedStartTag, tag);
        EXPECT_EQ(
            same(before + "<q v='" + name.left(name.size() - 6) + "'/></r>").oversizedStartTag, -1);
        EXPECT_EQ(
            same(before + "<q v='" + name.left(name.size() - 5) + "'/></r>").oversizedStartTag,
            tag);
        EXPECT_EQ(same(before + "<" + name).oversizedStartTag, -1);
        const QByteArray open = before + "<" + name;
        EXPECT_EQ(same(open + QByteArray(128 - open.size() % 64, 'n')).oversizedStartTag, tag);
        EXPECT_EQ(same(before + "<q" + attributes + "/></r>").oversizedStartTag, -1);
        EXPECT_EQ(same(before + "<q" + attributes + " z=''/></r>").oversizedStartTag, tag);
    }
}

TEST(XmlParser, ReadsAWholeDocumentAsItReadsOnePushedInChunks)
{
    // A whole document goes to libxml2's one-shot parser; one that ends in an oversized start tag
    // is pushed in chunks up to that tag. Every well-formed real-world feed must give the same
    // events both ways, whether or not CDATA makes up most of it.
    QByteArray flood = "<x";
    for (int i = 0; i < 5000; ++i)
        flood += " a" + QByteArray::number(i) + "=''";
    flood += "/>";
    QList<QByteArray> documents {
        "<rss><channel><title>t &amp; u</title><item><description><![CDATA[" + QByteArray(4000, 'c')
        + "]]></description></item></channel></rss>"
    };
    const TestSupport::FeedFiles files
        = TestSupport::feedFiles(u"XmlParser.ReadsAWholeDocumentAsItReadsOnePushedInChunks"_s);
    const qsizetype ownEnd = documents.size() + files.own.size();
    for (const QString& path : files.all())
        documents << TestSupport::readFile(path);
    int compared = 0;
    int comparedOutside = 0;
    for (qsizetype i = 0; i < documents.size(); ++i) {
        const QByteArray& document = documents[i];
        bool whole = false;
        const auto events = parse(document, &whole);
        if (!whole)
            continue;
        bool pushed = true;
        EXPECT_EQ(parse(document + flood, &pushed), events) << document.left(200).toStdString();
        EXPECT_FALSE(pushed);
        ++compared;
        comparedOutside += i >= ownEnd ? 1 : 0;
    }
    EXPECT_GT(compared, files.own.size() / 2);
    if (!files.outside.isEmpty()) {
        EXPECT_GT(comparedOutside, files.outside.size() / 2);
    }
}

// A document read as it arrives, in pieces of any size, gives what it gives read whole: the
// real-world feeds, documents cut at an oversized start tag, in 16-bit units, with white space
// before the declaration, with markup of every kind across the pieces' ends.
TEST(XmlParser, ReadsADocumentPushedPieceByPieceAsItReadsItWhole)
{
    QList<QByteArray> documents;
    for (const QString& path :
        TestSupport::feedFiles(u"XmlParser.ReadsADocumentPushedPieceByPieceAsItReadsItWhole"_s)
            .all())
        documents << TestSupport::readFile(path);
    QByteArray flood = "<rss><channel><item><title>kept</title></item><item ";
    for (int i = 0; i < 5000; ++i)
        flood += 'a' + QByteArray::number(i) + "=\"\" ";
    flood += "/></channel></rss>";
    const QString wide
        = u"\ufeff\r\n <?xml version=\"1.0\" encoding=\"UTF-16\"?><r>w\u20acde</r>"_s;
    documents << flood << "<r a=\"" + QByteArray(xmlMaxStartTagBytes, 'x') + "\"/>"
              << QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2)
              << "\n \xEF\xBB\xBF<?xml version=\"1.0\"?><r>a</r>"
              << "\xEF\xBB\xBF \t<r>b</r>"
              << ""
              << "  "
              << "<r"
              << "<r>unclosed"
              << "<!DOCTYPE r [<!ENTITY e \"<a b='>'>\"><!-- a < b -->]><r>&e;<!-- <c d=\" "
                 "--><![CDATA[<e f=\"]]><?p <g h=\"?><s t='>'/></r>";
    std::mt19937 random(5);
    int compared = 0;
    for (const QByteArray& document : documents) {
        bool wholeOk = false;
        const QStringList whole = parse(document, &wholeOk);
        for (const qsizetype size : { 1, 2, 3, 5, 64, 4096 }) {
            bool ok = !wholeOk;
            EXPECT_EQ(pushed(document, size, &ok), whole)
                << size << ": " << document.left(120).toStdString();
            EXPECT_EQ(ok, wholeOk) << size << ": " << document.left(120).toStdString();
        }
        bool ok = !wholeOk;
        EXPECT_EQ(pushed(document, 300, &ok, &random), whole) << document.left(120).toStdString();
        EXPECT_EQ(ok, wholeOk);
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST(XmlParser, SkipsWhiteSpaceBeforeTheXmlDeclaration)
{
    QString wide = u"\ufeff\r\n <?xml version=\"1.0\" encoding=\"UTF-16\"?><r>wide</r>"_s;
    const QByteArray utf16(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
    const QList<QPair<QByteArray, QString>> cases {
        { "\n\n<?xml version=\"1.0\"?><r>plain</r>", u"'plain'"_s },
        { "\xEF\xBB\xBF \t\r\n<?xml version=\"1.0\" encoding=\"utf-8\"?><r>marked</r>",
            u"'marked'"_s },
        { "\xEF\xBB\xBF\n<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xe9</r>",
            u"'café'"_s },
        { utf16, u"'wide'"_s },
    };
    for (const auto& [document, text] : cases) {
        bool ok = false;
        const auto events = parse(document, &ok);
        EXPECT_TRUE(ok) << text.toStdString();
        EXPECT_EQ(events, (QStringList { u"<r>"_s, text, u"</r>"_s }));
    }
}

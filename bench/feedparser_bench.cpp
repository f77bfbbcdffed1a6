// Feed-parsing throughput, each document set side by side with a bare libxml2 SAX push pass over
// the same bytes in 64 KiB chunks (the floor the targets are set against) and a bare pass of
// libxml2's one-shot parser, which XmlParser uses for a whole document:
//   0: a mixed generated corpus (RSS 2.0 with HTML descriptions in CDATA, RSS with escaped
//      markup, Atom, RDF);
//   1: one 20 MB channel of the real items of the shared corpus's sample feeds, read in place
//      (TICKERLY_CORPUS_DIR, or ../shared/corpus beside the source tree);
//   2: a feed of many short items (headline, link and date only).

#include "data/sync/FeedParser.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray date(int i)
{
    return QDateTime::fromSecsSinceEpoch(1'700'000'000 - i * 3600, Qt::UTC)
        .toString(Qt::RFC2822Date)
        .toUtf8();
}

QByteArray paragraph(int i)
{
    return "Lorem ipsum dolor sit amet, story " + QByteArray::number(i)
        + " consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore "
          "magna aliqua. "
          "Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi ut aliquip ex "
          "ea commodo.";
}

QByteArray rssWithCdata(int items)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
                     "xmlns:media=\"http://search.yahoo.com/mrss/\" "
                     "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><channel><title>Bench "
                     "News</title><link>http://bench.example/</link>\n";
    for (int i = 0; i < items; ++i) {
        doc += "<item><title><![CDATA[Headline number " + QByteArray::number(i)
            + " about things]]></title>"
              "<link>http://bench.example/story/"
            + QByteArray::number(i)
            + "</link>"
              "<guid isPermaLink=\"false\">bench-"
            + QByteArray::number(i)
            + "</guid>"
              "<description><![CDATA[<p><img src=\"http://bench.example/img/"
            + QByteArray::number(i) + ".jpg\" width=\"300\"/>" + paragraph(i) + "</p><p>"
            + paragraph(i + 1)
            + "</p>]]></description>"
              "<dc:creator>Someone</dc:creator><pubDate>"
            + date(i)
            + "</pubDate>"
              "<media:content url=\"http://bench.example/img/"
            + QByteArray::number(i) + ".jpg\" medium=\"image\"/></item>\n";
    }
    return doc + "</channel></rss>\n";
}

QByteArray rssEscaped(int items)
{
    QByteArray doc
        = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Escaped</title>\n";
    for (int i = 0; i < items; ++i) {
        doc += "<item><title>Tom &amp; Jerry &#8217;" + QByteArray::number(i)
            + "</title>"
              "<link>http://esc.example/"
            + QByteArray::number(i)
            + "</link>"
              "<description>&lt;p&gt;"
            + paragraph(i)
            + " &amp;amp; more &lt;a "
              "href=&quot;http://esc.example/&quot;&gt;link&lt;/a&gt;&lt;/p&gt;</description>"
              "<pubDate>"
            + date(i) + "</pubDate></item>\n";
    }
    return doc + "</channel></rss>\n";
}

QByteArray atom(int entries)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed "
                     "xmlns=\"http://www.w3.org/2005/Atom\"><title>Atom</title>"
                     "<link href=\"http://atom.example/\"/>\n";
    for (int i = 0; i < entries; ++i) {
        doc += "<entry><title type=\"html\">Entry " + QByteArray::number(i)
            + "</title>"
              "<link rel=\"alternate\" href=\"http://atom.example/"
            + QByteArray::number(i)
            + "\"/>"
              "<id>urn:uuid:"
            + QByteArray::number(i)
            + "</id><updated>2023-11-14T22:13:20Z</updated>"
              "<published>2023-11-14T22:13:20+01:00</published><summary>"
            + paragraph(i)
            + "</summary>"
              "<content type=\"html\">&lt;div&gt;"
            + paragraph(i) + paragraph(i + 2)
            + "&lt;/div&gt;</content>"
              "<author><name>Writer</name></author></entry>\n";
    }
    return doc + "</feed>\n";
}

QByteArray rdf(int items)
{
    QByteArray doc
        = "<?xml version=\"1.0\"?>\n<rdf:RDF "
          "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
          "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
          "<channel><title>RDF</title><link>http://rdf.example/</link></channel>\n";
    for (int i = 0; i < items; ++i) {
        doc += "<item rdf:about=\"http://rdf.example/" + QByteArray::number(i)
            + "\"><title>RDF item " + QByteArray::number(i) + "</title><link>http://rdf.example/"
            + QByteArray::number(i) + "</link><description>" + paragraph(i)
            + "</description><dc:date>2023-11-14T22:13:20Z</dc:date></item>\n";
    }
    return doc + "</rdf:RDF>\n";
}

const auto source = std::make_shared<Source>(u"Bench"_s, u"http://bench.example/rss"_s);

// Every RSS item of the sample feeds that reads on its own, repeated into one channel.
QByteArray realChannel(qsizetype bytes)
{
    const QString root = qEnvironmentVariableIsSet("TICKERLY_CORPUS_DIR")
        ? qEnvironmentVariable("TICKERLY_CORPUS_DIR")
        : QStringLiteral(TICKERLY_CORPUS_DIR);
    const QRegularExpression item(
        u"<item[ >].*?</item>"_s, QRegularExpression::DotMatchesEverythingOption);
    QList<QByteArray> items;
    QDirIterator files(QDir(root).filePath(u"sample-feeds"_s), { u"*.xml"_s }, QDir::Files);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto it = item.globalMatch(text); it.hasNext();) {
            const QByteArray one = it.next().captured().toUtf8();
            if (FeedParser("<rss><channel>" + one + "</channel></rss>", source).stories.size() == 1)
                items << one;
        }
    }
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss "
                     "version=\"2.0\"><channel><title>Real items</title>\n";
    while (!items.isEmpty() && doc.size() < bytes) {
        for (const QByteArray& one : items)
            doc += one + '\n';
    }
    return doc + "</channel></rss>\n";
}

QByteArray shortItems(int items)
{
    QByteArray doc
        = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Short</title>\n";
    for (int i = 0; i < items; ++i) {
        doc += "<item><title>Short headline " + QByteArray::number(i)
            + "</title><link>http://short.example/" + QByteArray::number(i) + "</link><pubDate>"
            + date(i) + "</pubDate></item>\n";
    }
    return doc + "</channel></rss>\n";
}

const QList<QByteArray>& corpus(qint64 set)
{
    static const QList<QList<QByteArray>> sets {
        { rssWithCdata(60), rssEscaped(60), atom(40), rdf(60), rssWithCdata(300), atom(200) },
        { realChannel(20 * 1024 * 1024) },
        { shortItems(20'000) },
    };
    return sets[set];
}

qint64 corpusBytes(qint64 set)
{
    qint64 n = 0;
    for (const auto& d : corpus(set))
        n += d.size();
    return n;
}

void BM_FeedParser(benchmark::State& state)
{
    qint64 stories = 0;
    for (auto _ : state) {
        for (const QByteArray& document : corpus(state.range(0))) {
            const FeedParser parser(document, source);
            stories += parser.stories.size();
        }
    }
    benchmark::DoNotOptimize(stories);
    state.SetBytesProcessed(state.iterations() * corpusBytes(state.range(0)));
    state.counters["stories"] = double(stories) / double(state.iterations());
}
BENCHMARK(BM_FeedParser)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// SAX callbacks that do nothing: nothing is built.
xmlSAXHandler emptyHandler()
{
    xmlSAXHandler handler {};
    xmlSAXVersion(&handler, 1);
    handler.startElement = [](void*, const xmlChar*, const xmlChar**) {};
    handler.endElement = [](void*, const xmlChar*) {};
    handler.characters = [](void*, const xmlChar*, int) {};
    handler.cdataBlock = [](void*, const xmlChar*, int) {};
    return handler;
}

// libxml2's push parser in 64 KiB chunks with empty SAX callbacks.
void BM_BareSaxPass(benchmark::State& state)
{
    xmlSAXHandler handler = emptyHandler();
    constexpr int chunk = 64 * 1024;
    for (auto _ : state) {
        for (const QByteArray& document : corpus(state.range(0))) {
            xmlParserCtxtPtr ctxt
                = xmlCreatePushParserCtxt(&handler, nullptr, document.constData(), 4, nullptr);
            xmlCtxtUseOptions(ctxt, XML_PARSE_SAX1 | XML_PARSE_NOENT | XML_PARSE_NONET);
            for (qsizetype at = 4; at < document.size(); at += chunk)
                xmlParseChunk(ctxt, document.constData() + at,
                    int(std::min<qsizetype>(chunk, document.size() - at)), 0);
            xmlParseChunk(ctxt, nullptr, 0, 1);
            xmlFreeParserCtxt(ctxt);
        }
    }
    state.SetBytesProcessed(state.iterations() * corpusBytes(state.range(0)));
}
BENCHMARK(BM_BareSaxPass)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// libxml2's one-shot parser over the whole document with the same empty callbacks: what
// XmlParser hands a whole document to, faster than the push pass on markup-dense documents.
void BM_BareOneShotPass(benchmark::State& state)
{
    const xmlSAXHandler handler = emptyHandler();
    for (auto _ : state) {
        for (const QByteArray& document : corpus(state.range(0))) {
            xmlParserCtxtPtr ctxt
                = xmlCreateMemoryParserCtxt(document.constData(), int(document.size()));
            *ctxt->sax = handler;
            ctxt->userData = ctxt;
            xmlCtxtUseOptions(ctxt, XML_PARSE_SAX1 | XML_PARSE_NOENT | XML_PARSE_NONET);
            xmlParseDocument(ctxt);
            if (ctxt->myDoc)
                xmlFreeDoc(ctxt->myDoc);
            xmlFreeParserCtxt(ctxt);
        }
    }
    state.SetBytesProcessed(state.iterations() * corpusBytes(state.range(0)));
}
BENCHMARK(BM_BareOneShotPass)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

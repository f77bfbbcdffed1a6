// The first feed parse in a fresh process (libxml2, ICU and Qt tables still cold) beside the
// same parse once warm. Run it several times: each run is one fresh process.

#include "data/sync/FeedParser.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>

using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

// One feed as publishers write them: HTML bodies with an image, RFC 822 dates, an odd date form.
QByteArray feed()
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss "
                     "version=\"2.0\"><channel><title>First</title>"
                     "<link>http://first.example/</link>\n";
    for (int i = 0; i < 20; ++i) {
        doc += "<item><title>Headline &amp; more " + QByteArray::number(i)
            + "</title><link>http://first.example/" + QByteArray::number(i)
            + "</link><description><![CDATA[<p><img src=\"http://first.example/"
            + QByteArray::number(i)
            + ".jpg\"/>Story text long enough to be cut at a hundred characters for the list, with "
              "an entity &#8217; "
              "and some more words after it.</p>]]></description><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - i * 3600, Qt::UTC)
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate></item>\n";
    }
    return doc + "</channel></rss>\n";
}

double parseMs(const QByteArray& document, const std::shared_ptr<Source>& source)
{
    QElapsedTimer timer;
    timer.start();
    const FeedParser parser(document, source);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    return parser.stories.size() == 20 ? ms : -1;
}

} // namespace

int main()
{
    const QByteArray document = feed();
    const auto source = std::make_shared<Source>(u"First"_s, u"http://first.example/rss"_s);
    const double first = parseMs(document, source);
    double warm = 1e9;
    for (int i = 0; i < 20; ++i)
        warm = std::min(warm, parseMs(document, source));
    std::printf(
        "first_parse_ms %.3f warm_parse_ms %.3f extra_ms %.3f\n", first, warm, first - warm);
    return first < 0 ? 1 : 0;
}

#include "data/sync/DateParser.h"
#include "testsupport/TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

using namespace Tickerly;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

struct DateCase {
    const char16_t* text;
    const char16_t* utc; // ISO 8601 in UTC; null: no date
};

// Date texts as feeds write them, and the instant each stands for.
const DateCase dateCases[] = {
    // RFC 822 with named zones
    { u"Mon, 07 Dec 2026 23:19:10 GMT", u"2026-12-07T23:19:10Z" },
    { u"Fri, 30 May 2003 11:06:42 GMT", u"2003-05-30T11:06:42Z" },
    { u"Tue, 8 Jan 2019 01:15:00 GMT", u"2019-01-08T01:15:00Z" },
    { u"Sat, 07 Sep 2002 0:00:01 GMT", u"2002-09-07T00:00:01Z" },
    { u"Mon, 07 Dec 2026 23:19:10 UT", u"2026-12-07T23:19:10Z" },
    { u"Tue, 30 Apr 2019 13:00:00 EST", u"2019-04-30T18:00:00Z" },
    { u"Mon, 07 Dec 2026 23:19:10 PDT", u"2026-12-08T06:19:10Z" },
    // "BST" only the British locale knows; a reading that stopped before the zone would be an
    // hour off.
    { u"Tue, 10 Jun 2003 04:00:00 BST", u"2003-06-10T03:00:00Z" },
    // RFC 822 with numeric zones
    { u"Tue, 19 Oct 2004 11:08:56 -0400", u"2004-10-19T15:08:56Z" },
    { u"Sun, 06 Sep 2009 16:20:00 +0000", u"2009-09-06T16:20:00Z" },
    { u"Tue, 23 May 2019 02:00:00 -0700", u"2019-05-23T09:00:00Z" },
    // without seconds, without zone, without weekday
    { u"Mon, 07 Dec 2026 23:19 GMT", u"2026-12-07T23:19:00Z" },
    { u"Mon, 07 Dec 2026 23:19:10", u"2026-12-07T23:19:10Z" },
    { u"Mon, 07 Dec 2026 23:19", u"2026-12-07T23:19:00Z" },
    { u"07 Dec 2026 23:19:10 GMT", u"2026-12-07T23:19:10Z" },
    { u"01 Oct 2017 13:00:00 +0200", u"2017-10-01T11:00:00Z" },
    { u"01 Oct 2017 13:00", u"2017-10-01T13:00:00Z" },
    // two-digit years as RFC 2822 reads them
    { u"Tue, 10 Jun 03 04:00:00 GMT", u"2003-06-10T04:00:00Z" },
    { u"Thu, 01 Jan 70 00:00:00 +0000", u"1970-01-01T00:00:00Z" },
    { u"1 Jan 49 12:00 GMT", u"2049-01-01T12:00:00Z" },
    { u"1 Jan 50 12:00", u"1950-01-01T12:00:00Z" },
    { u"Mon,  07   Dec 99 23:19", u"1999-12-07T23:19:00Z" },
    { u"Tue, 10 03 04:00:00 GMT", nullptr },
    // a wrong weekday does not matter
    { u"Wed, 07 Dec 2026 23:19:10 GMT", u"2026-12-07T23:19:10Z" },
    // ISO 8601
    { u"2003-11-09T17:23:02Z", u"2003-11-09T17:23:02Z" },
    { u"2017-10-04T08:00:00-05:00", u"2017-10-04T13:00:00Z" },
    { u"2017-01-10T10:00:00+0100", u"2017-01-10T09:00:00Z" },
    { u"2019-02-16T07:00:00.000Z", u"2019-02-16T07:00:00Z" },
    { u"2009-12-08T16:59:02.544-08:00", u"2009-12-09T00:59:02.544Z" },
    { u"2004-05-30T14:23:54", u"2004-05-30T14:23:54Z" },
    // garbage, and shapes no pattern takes
    { u"", nullptr },
    { u"yesterday", nullptr },
    { u"2000-01-01T12:00+00:00", nullptr },
    { u"2026-12-07", nullptr },
    { u"Mon, 07 Dec 2026 23:19:10 GMT\n", nullptr },
    { u"Mon, 07 Dec 2026 23:19:10 GMT trailing words", nullptr },
    { u"Mon, 32 Dec 2026 23:19:10 GMT", nullptr },
    { u"Mon, 07 Dec 2026 25:19:10 GMT", nullptr },
    { u"Mon, 07 Foo 2026 23:19:10 GMT", nullptr },
    { u"\u0001\uFFFE 12:00", nullptr },
    // a fraction of a second long enough to make ICU divide by zero
    { u"2009-12-08T16:50:02.54444444444444444444444444444444444444444444409-1&-3(2000", nullptr },
};

} // namespace

TEST(DateParser, ReadsFeedDatesToTheSecond)
{
    DateParser parser; // one parser for every text, as a feed's items share one
    for (const DateCase& c : dateCases) {
        const QString text = QString::fromUtf16(c.text);
        const auto date = parser.parseDate(text);
        if (!c.utc) {
            EXPECT_FALSE(date) << text.toStdString() << " gave "
                               << date->toString(Qt::ISODateWithMs).toStdString();
        } else {
            const QDateTime expected
                = QDateTime::fromString(QString::fromUtf16(c.utc), Qt::ISODateWithMs);
            ASSERT_TRUE(date) << text.toStdString();
            EXPECT_EQ(date->toMSecsSinceEpoch(), expected.toMSecsSinceEpoch())
                << text.toStdString() << " gave "
                << date->toString(Qt::ISODateWithMs).toStdString();
            EXPECT_EQ(date->timeSpec(), Qt::UTC);
        }
        EXPECT_EQ(parser.localeIndex(), 0);
        EXPECT_EQ(parser.formatIndex(), 0);
    }
}

TEST(DateParser, ReadsTheSameInEveryThread)
{
    // Formatters are kept per thread; a second thread must read exactly what the first did.
    std::optional<QDateTime> inThread;
    std::thread reader(
        [&inThread] { inThread = DateParser().parseDate(u"Tue, 19 Oct 2004 11:08:56 -0400"_s); });
    reader.join();
    ASSERT_TRUE(inThread);
    EXPECT_EQ(inThread, DateParser().parseDate(u"Tue, 19 Oct 2004 11:08:56 -0400"_s));
}

TEST(DateParser, SurvivesTheDatesOfTheCorpus)
{
    // Every date element of the real-world feeds: no crash, and the common shapes are read.
    const QRegularExpression element(u"<(pubDate|dc:date|published)>([^<]*)</"_s);
    DateParser parser;
    int seen = 0;
    int read = 0;
    for (const QString& path :
        TestSupport::feedFiles(u"DateParser.SurvivesTheDatesOfTheCorpus"_s).all()) {
        const QString text = QString::fromUtf8(TestSupport::readFile(path));
        for (auto it = element.globalMatch(text); it.hasNext();) {
            ++seen;
            read += parser.parseDate(it.next().captured(2)) ? 1 : 0;
        }
    }
    EXPECT_GT(seen, 0);
    EXPECT_GT(read, seen / 2);
}

TEST(DateParser, ReadsCommonShapesDirectlyExactlyAsThePatternsDo)
{
    // Every date of the real-world feeds and of our golden feeds, the cases above, and the edges
    // of each shape the direct reading takes: where it reads a date, the patterns read the same
    // instant.
    QStringList texts;
    for (const DateCase& c : dateCases)
        texts << QString::fromUtf16(c.text);
    texts << u"Tue, 10 Jun 2003 04:00:00 Z"_s << u"Tue, 10 Jun 2003 04:00:00 UTC"_s
          << u"Sun, 11 Jan 2015 04:00:00 EDT"_s << u"Sun, 12 Jul 2015 04:00:00 EST"_s
          << u"Sun, 12 Jul 2015 04:00:00 CDT"_s << u"Sun, 11 Jan 2015 04:00 MST"_s
          << u"Sun, 12 Jul 2015 04:00:59 MDT"_s << u"Sun, 12 Jul 2015 23:59:59 CST"_s
          << u"Tue, 10 Jun 2003 04:00:00 +0530"_s << u"Tue, 10 Jun 2003 04:00:00 -2359"_s
          << u"Tue, 10 Jun 2003 04:00:00 +2400"_s << u"Tue, 10 Jun 2003 04:00:00 +01:00"_s
          << u"29 Feb 2000 04:00:00 GMT"_s << u"29 Feb 2001 04:00:00 GMT"_s
          << u"31 Dec 1600 23:59:59 GMT"_s << u"Sun, 1 Jan 9999 00:00 PST"_s
          << u"Tue, 10 Jun 2003 24:00:00 GMT"_s << u"Tue, 10 Jun 2003 04:60:00 GMT"_s
          << u"Tue, 10 Jun 2003 04:00:60 GMT"_s << u"Tue,10 Jun 2003 04:00:00 GMT"_s
          << u"Tue, 10 jun 2003 04:00:00 GMT"_s << u"Tue, 10 Jun 2003 04:00:00 gmt"_s
          << u"Tue, 10 Jun 2003 04:00:00 GMT+1"_s << u"10 Jun 20030 04:00:00 GMT"_s
          << u"2019-02-16T07:00:00.000+05:30"_s << u"2019-02-16T07:00:00.123-0800"_s
          << u"2019-02-16T07:00:00.1Z"_s << u"2019-02-16T07:00:00.1234Z"_s
          << u"2019-02-16T07:00:00.123"_s << u"2019-02-29T07:00:00Z"_s
          << u"2019-12-31T23:59:59+00:00"_s << u"2019-12-31T23:59:59-00:00"_s
          << u"2019-12-31T23:59:59+14:00"_s << u"2019-12-31T23:59:59+1400"_s
          << u"2019-12-31T23:59:59+01"_s << u"2019-12-31 23:59:59Z"_s << u"2019-1-31T23:59:59Z"_s
          << u"2019-12-31T23:59:59z"_s << u"1599-12-31T23:59:59Z"_s << u"7 Sep 2002 9:05 +0130"_s
          << u"Sat, 07 Sep 2002 9:05:59 PDT"_s << u"Sat, 07 Sep 2002 0:00"_s
          << u"Sat, 07 Sep 2002 :00:01 GMT"_s << u"Sat, 07 Sep 2002 000:00:01 GMT"_s
          << u"29 Feb 1900 04:00:00 GMT"_s << u"29 Feb 1600 04:00:00 GMT"_s
          << u"1 Mar 1600 00:00 GMT"_s << u"28 Feb 2100 23:59:59 GMT"_s
          << u"1 Mar 2100 00:00:00 GMT"_s << u"31 Apr 2019 12:00 GMT"_s
          << u"31 Dec 9999 23:59:59 GMT"_s << u"2019-00-10T07:00:00Z"_s << u"2019-13-10T07:00:00Z"_s
          << u"2019-02-00T07:00:00Z"_s << u"2024-02-29T07:00:00Z"_s
          << u"Tue, 10 Nvo 2003 04:00:00 GMT"_s << u"Eut, 10 Jun 2003 04:00:00 GMT"_s
          << u"Tue, 10 Jbm 2003 04:00:00 GMT"_s << u"Tue, 1a Jun 2003 04:00:00 GMT"_s
          << u"Tue; 10 Jun 2003 04:00:00 GMT"_s << u"10 Jun 2003 04:00:00 -0000"_s
          << u"10 Jun 2003 04:00:00 +0000 "_s << u"10 Jun 2003 04:00:00 +000"_s
          << u"Tue, 10 Jun 2003 04:00:00 +00000"_s;
    const QRegularExpression element(u"<(pubDate|dc:date|published)>([^<]*)</"_s);
    int corpusDates = 0;
    for (const QString& path :
        TestSupport::feedFiles(u"DateParser.ReadsCommonShapesDirectlyExactlyAsThePatternsDo"_s)
            .all()) {
        const QString text = QString::fromUtf8(TestSupport::readFile(path));
        for (auto it = element.globalMatch(text); it.hasNext(); ++corpusDates)
            texts << it.next().captured(2).trimmed(); // as a feed item keeps it
    }
    DateParser parser;
    int direct = 0;
    for (const QString& text : texts) {
        const auto fast = DateParser::readCommonForm(text);
        const auto patterns = parser.parseDateWithPatterns(text);
        if (!fast)
            continue;
        ++direct;
        ASSERT_TRUE(patterns) << text.toStdString() << " read directly as "
                              << fast->toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(fast->toMSecsSinceEpoch(), patterns->toMSecsSinceEpoch())
            << text.toStdString() << ": " << fast->toString(Qt::ISODateWithMs).toStdString()
            << " against " << patterns->toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(fast->timeSpec(), patterns->timeSpec()) << text.toStdString();
        EXPECT_EQ(parser.parseDate(text), fast) << text.toStdString();
        // Feed parsing reads ASCII date bytes without making a QString first.
        if (const QByteArray latin1 = text.toLatin1(); QString::fromLatin1(latin1) == text) {
            EXPECT_EQ(DateParser::readCommonForm(QLatin1StringView(latin1)), fast)
                << text.toStdString();
        }
    }
    // The direct reading is only worth having if it takes nearly all real dates.
    EXPECT_GT(corpusDates, 0);
    EXPECT_GT(direct, corpusDates * 3 / 4) << direct << " of " << texts.size();
}

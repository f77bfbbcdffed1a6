#include "data/sync/DateParser.h"
#include "testsupport/TestSupport.h"

#include <QDirIterator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

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
};

} // namespace

TEST(DateParser, ReadsFeedDatesToTheSecond)
{
    DateParser parser; // one parser for every text, as a feed's items share one
    for (const DateCase& c : dateCases) {
        const QString text = QString::fromUtf16(c.text);
        const auto date = parser.parseDate(text);
        if (!c.utc) {
            EXPECT_FALSE(date) << text.toStdString() << " gave " << date->toString(Qt::ISODateWithMs).toStdString();
        } else {
            const QDateTime expected = QDateTime::fromString(QString::fromUtf16(c.utc), Qt::ISODateWithMs);
            ASSERT_TRUE(date) << text.toStdString();
            EXPECT_EQ(date->toMSecsSinceEpoch(), expected.toMSecsSinceEpoch())
                << text.toStdString() << " gave " << date->toString(Qt::ISODateWithMs).toStdString();
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
    std::thread reader([&inThread] { inThread = DateParser().parseDate(u"Tue, 19 Oct 2004 11:08:56 -0400"_s); });
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
    QDirIterator files(testsupport::corpusPath(), { u"*.xml"_s }, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString text = QString::fromUtf8(testsupport::readFile(files.next()));
        for (auto it = element.globalMatch(text); it.hasNext();) {
            ++seen;
            read += parser.parseDate(it.next().captured(2)) ? 1 : 0;
        }
    }
    if (seen == 0)
        GTEST_SKIP() << "no corpus at " << testsupport::corpusPath().toStdString();
    EXPECT_GT(read, seen / 2);
}

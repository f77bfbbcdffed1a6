#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "data/model/tests/ModelTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QCborMap>
#include <QCborValue>

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

std::shared_ptr<Source> roundTrip(const Coding& object)
{
    Source::registerArchiveClasses();
    return KeyedUnarchiver::unarchiveObjectWithData<Source>(
        KeyedArchiver::archivedDataWithRootObject(object));
}

} // namespace

TEST(Source, EqualityFollowsTitleAndLinkWhileTheHashFollowsTheSiteLink)
{
    Source a(u"News"_s, u"http://example.org/feed"_s);
    Source b(u"News"_s, u"http://example.org/feed"_s);
    b.sourceLink = Url::fromString(u"http://example.org/"_s);
    b.noIconFound = true;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == Source(u"Other"_s, u"http://example.org/feed"_s));
    EXPECT_FALSE(a == Source(u"News"_s, u"http://example.org/other"_s));

    EXPECT_EQ(a.hashValue(), Source(u"News"_s, u"http://elsewhere/"_s).hashValue());
    Source c(u"Different title"_s, u"x"_s);
    c.sourceLink = b.sourceLink;
    EXPECT_EQ(b.hashValue(), c.hashValue());
}

TEST(Source, ArchivesExactlyTitleLinkAndFlag)
{
    Source s(u"Title ü"_s, u"http://example.org/feed"_s);
    s.sourceLink = Url::fromString(u"http://example.org/"_s);
    s.noIconFound = true;

    const QByteArray bytes = KeyedArchiver::archivedDataWithRootObject(s);
    const QCborMap object = QCborValue::fromCbor(bytes).toMap().value(u"$top"_s).toMap();
    QStringList keys;
    for (auto it = object.begin(); it != object.end(); ++it)
        keys.append(it.key().toString());
    EXPECT_EQ(keys, (QStringList { u"$class"_s, u"title"_s, u"link"_s, u"noIcon"_s }));

    auto back = roundTrip(s);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title(), s.title());
    EXPECT_EQ(back->link(), s.link());
    EXPECT_TRUE(back->noIconFound);
    EXPECT_FALSE(back->sourceLink);
    EXPECT_FALSE(back->feedParser);
    s.noIconFound = false;
    EXPECT_FALSE(roundTrip(s)->noIconFound);
}

TEST(Source, ReadsLegacyArchivesAndRefusesOnesWithoutTitleOrLink)
{
    ArchivedSourceFixture legacy;
    legacy.title = u"Old"_s;
    legacy.link = u"http://old.example/feed"_s;
    auto old = roundTrip(legacy);
    ASSERT_TRUE(old);
    // No flag stored: the icon search is taken as done.
    EXPECT_TRUE(old->noIconFound);
    legacy.noIconNumber = 0;
    EXPECT_FALSE(roundTrip(legacy)->noIconFound);

    ArchivedSourceFixture noTitle = legacy;
    noTitle.title.reset();
    EXPECT_FALSE(roundTrip(noTitle));
    ArchivedSourceFixture noLink = legacy;
    noLink.link.reset();
    EXPECT_FALSE(roundTrip(noLink));
}

TEST(Source, HandsALegacyIconToTheIconStoreOverANewerOne)
{
    const QString link = u"http://old.example/feed"_s;
    QImage newer(96, 96, QImage::Format_ARGB32);
    newer.fill(Qt::blue);
    SourceIconData::setIconForSourceLink(link, newer);

    ArchivedSourceFixture legacy;
    legacy.title = u"Old"_s;
    legacy.link = link;
    legacy.icon = QImage(32, 20, QImage::Format_ARGB32);
    legacy.icon.fill(Qt::red);
    ASSERT_TRUE(roundTrip(legacy));

    const QImage stored = SourceIconData::iconForLink(link);
    EXPECT_EQ(stored.size(), QSize(32, 20));
    EXPECT_EQ(stored.pixel(5, 5), QColor(Qt::red).rgba());
}

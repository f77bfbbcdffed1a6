#include "data/model/Shared.h"
#include "data/model/TopFeedsData.h"
#include "data/model/tests/ModelTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString storedTopFeedsKey = u"velmora.StoredTopFeeds"_s;

std::shared_ptr<TopFeedSource> feed(const QString& title, qint64 hits, const QString& link = {})
{
    return std::make_shared<TopFeedSource>(
        hits, std::make_shared<Source>(title, link.isEmpty() ? u"http://"_s + title + u'/' : link));
}

QStringList described(const TopFeedsData::TopFeedList& list)
{
    QStringList out;
    for (const auto& f : list)
        out.append(f->source()->title() + u':' + QString::number(f->hits()));
    return out;
}

// A popular-feed record as a damaged store or another version may hold it.
class ArchivedTopFeedFixture : public Coding {
public:
    QString className = u"TickerlyDataMac.TopFeedSource"_s;
    std::optional<qint64> hits;
    std::shared_ptr<Coding> source;

    QString archivedClassName() const override { return className; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        if (hits)
            coder.encodeInteger(*hits, u"hits"_s);
        if (source)
            coder.encodeObject(*source, u"source"_s);
    }
};

} // namespace

TEST(TopFeedsData, KeepsTheWholeListInOrderAndComparesRecordsBySourceOnly)
{
    TopFeedsData data;
    EXPECT_TRUE(data.topFeeds().isEmpty());
    EXPECT_FALSE(sharedDefaults()->value(storedTopFeedsKey).isValid());

    auto first = feed(u"a"_s, 7);
    first->source()->noIconFound = true;
    (void)data.setTopFeeds({ first, feed(u"b"_s, -3), feed(u"c"_s, 1LL << 40) });
    const auto stored = TopFeedsData().topFeeds();
    EXPECT_EQ(described(stored), (QStringList { u"a:7"_s, u"b:-3"_s, u"c:1099511627776"_s }));
    EXPECT_TRUE(stored[0]->source()->noIconFound);
    EXPECT_FALSE(stored[1]->source()->noIconFound);

    EXPECT_TRUE(*feed(u"a"_s, 1) == *feed(u"a"_s, 2));
    EXPECT_FALSE(*feed(u"a"_s, 1) == *feed(u"a"_s, 1, u"http://other/"_s));

    (void)data.setTopFeeds({});
    EXPECT_TRUE(data.topFeeds().isEmpty());
    EXPECT_TRUE(sharedDefaults()->data(storedTopFeedsKey));
}

TEST(TopFeedsData, UpdatesOnlyTheFirstEqualRecordInPlaceAndNeverAdds)
{
    TopFeedsData data;
    (void)data.setTopFeeds(
        { feed(u"a"_s, 1), feed(u"b"_s, 2), feed(u"c"_s, 3), feed(u"d"_s, 4), feed(u"c"_s, 5) });

    auto changed = feed(u"c"_s, 300);
    changed->source()->noIconFound = true;
    (void)data.updateFeed(changed);
    const auto list = data.topFeeds();
    EXPECT_EQ(
        described(list), (QStringList { u"a:1"_s, u"b:2"_s, u"c:300"_s, u"d:4"_s, u"c:5"_s }));
    EXPECT_TRUE(list[2]->source()->noIconFound);

    // Same title, other link: no record matches, and nothing is written.
    const QByteArray before = *sharedDefaults()->data(storedTopFeedsKey);
    (void)data.updateFeed(feed(u"c"_s, 9, u"http://elsewhere/"_s));
    (void)data.updateFeed(feed(u"z"_s, 9));
    EXPECT_EQ(*sharedDefaults()->data(storedTopFeedsKey), before);

    // Nothing stored: nothing to update, and the key stays unset.
    (void)sharedDefaults()->remove(storedTopFeedsKey);
    (void)data.updateFeed(feed(u"a"_s, 1));
    EXPECT_FALSE(sharedDefaults()->value(storedTopFeedsKey).isValid());
}

TEST(TopFeedsData, SkipsDamagedRecordsAndReadsUnusableValuesAsEmpty)
{
    auto store = sharedDefaults();
    auto good = std::make_shared<ArchivedTopFeedFixture>();
    good->source = std::make_shared<Source>(u"good"_s, u"http://good/"_s);
    auto noSource = std::make_shared<ArchivedTopFeedFixture>();
    noSource->hits = 5;
    auto sourceOfWrongKind = std::make_shared<ArchivedTopFeedFixture>();
    sourceOfWrongKind->hits = 6;
    sourceOfWrongKind->source = std::make_shared<ArchivedTopFeedFixture>(*good);
    auto brokenSource = std::make_shared<ArchivedTopFeedFixture>();
    auto noTitle = std::make_shared<ArchivedSourceFixture>();
    noTitle->link = u"http://no-title/"_s;
    brokenSource->source = noTitle;
    auto future = std::make_shared<ArchivedTopFeedFixture>(*good);
    future->className = u"Some.FutureClass"_s;
    (void)store->set(storedTopFeedsKey,
        KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<ArchivedTopFeedFixture>> {
            noSource, good, sourceOfWrongKind, brokenSource, future }));

    TopFeedsData data;
    // A record without a hit count counts none.
    EXPECT_EQ(described(data.topFeeds()), QStringList { u"good:0"_s });

    // A change writes the list back without the records that could not be read.
    (void)data.modifyTopFeeds(
        [](TopFeedsData::TopFeedList& list) { list.append(feed(u"new"_s, 1)); });
    EXPECT_EQ(described(data.topFeeds()), (QStringList { u"good:0"_s, u"new:1"_s }));

    for (const QVariant& unusable : { QVariant(QByteArray("not an archive")), QVariant(u"text"_s),
             QVariant(KeyedArchiver::archivedDataWithRootObject(*feed(u"single"_s, 1))),
             QVariant(KeyedArchiver::archivedDataWithRootObjects(
                 QList<std::shared_ptr<Source>> { std::make_shared<Source>(u"s"_s, u"l"_s) })) }) {
        (void)store->set(storedTopFeedsKey, unusable);
        EXPECT_TRUE(data.topFeeds().isEmpty());
    }
}

TEST(TopFeedsData, ChangesFromTwoProgramsAtOnceAreAllKept)
{
    constexpr int count = 100;
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(TestSupport::helperPath(u"data_helper"_s),
        { u"add-top-feeds"_s, u"other"_s, QString::number(count) });
    ASSERT_TRUE(other.waitForStarted(30000));
    TopFeedsData data;
    // Start once the other program is under way, so that the changes overlap.
    ASSERT_TRUE(TestSupport::waitFor([&] { return !data.topFeeds().isEmpty(); }, 30000));
    for (int i = 0; i < count; ++i)
        (void)data.modifyTopFeeds([i](TopFeedsData::TopFeedList& list) {
            list.append(feed(u"own"_s + QString::number(i), i));
        });
    ASSERT_TRUE(other.waitForFinished(60000));
    EXPECT_EQ(other.exitCode(), 0);
    // The main thread keeps what it could not write at once.
    ASSERT_TRUE(data.localStore()->retryKeptChanges(std::chrono::seconds(60)));

    const QStringList stored = described(data.topFeeds());
    EXPECT_EQ(stored.size(), 2 * count);
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(stored.contains(u"own"_s + QString::number(i) + u':' + QString::number(i)));
        EXPECT_TRUE(stored.contains(u"other"_s + QString::number(i) + u':' + QString::number(i)));
    }
}

#include "storylist/TodayDataSource.h"

#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "data/model/StoryStateData.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/Label.h"
#include "storylist/ListCellView.h"
#include "storylist/ListRowContentView.h"
#include "storylist/Preferences.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoryListTest;

namespace {

// Written straight into the suite: a write through Preferences would announce itself, and the
// refresh it starts would replace the stories these tests store.
void storeNumberOfStories(qint64 count)
{
    (void)sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), count);
}

class TodayDataSourceTest : public ::testing::Test {
protected:
    void SetUp() override { TableView::setDefaultAnimationDuration(0); }

    // The table's rows are what the data source counts, and each story row shows its story.
    void expectRowsMatch(TableView& table, TodayDataSource& dataSource, int extra)
    {
        ASSERT_EQ(table.numberOfRows(), dataSource.numberOfRowsInTableView(&table));
        for (int row = extra; row < table.numberOfRows(); ++row) {
            CountingCell* cell = cellAt(table, row);
            ASSERT_TRUE(cell && cell->data()) << "row " << row;
            EXPECT_EQ(cell->data()->title, dataSource.stories.at(row - extra)->headline())
                << "row " << row;
        }
    }
};

} // namespace

TEST_F(TodayDataSourceTest, ARefreshWithoutSourcesCompletesBeforeItReturns)
{
    storeStories(3);
    TodayDataSource dataSource;
    EXPECT_EQ(dataSource.stories.size(), 3);
    TableView table;
    FakeController controller(1);
    controller.attach(table, dataSource);

    std::optional<NCUpdateResult> result;
    dataSource.updateContents([&](NCUpdateResult r) {
        controller.events.append(u"handler"_s);
        result = r;
    });
    EXPECT_EQ(controller.events, (QStringList { u"willReload"_s, u"didReload 0"_s, u"handler"_s }));
    EXPECT_EQ(result, NCUpdateResult::NewData);
    EXPECT_TRUE(dataSource.didLoad);
    EXPECT_EQ(table.numberOfRows(), 1);
    EXPECT_EQ(cellAt(table, 0)->objectValue(), QVariant(0));
}

TEST_F(TodayDataSourceTest, CountsRowsByTheSettingUnlessExpanded)
{
    storeStories(20);
    TodayDataSource dataSource;
    TableView table;
    FakeController controller;
    controller.attach(table, dataSource);
    EXPECT_EQ(table.numberOfRows(), 5);

    dataSource.setExpanded(true);
    EXPECT_EQ(table.numberOfRows(), 20);
    dataSource.setExpanded(false);
    EXPECT_EQ(table.numberOfRows(), 5);

    controller.extra = 1;
    storeNumberOfStories(8);
    EXPECT_EQ(dataSource.numberOfRowsInTableView(&table), 9);

    storeStories(3);
    dataSource.updateCurrentStories();
    EXPECT_EQ(table.numberOfRows(), 4);
    EXPECT_EQ(controller.events, QStringList { u"didReload 3"_s });

    // A negative number from elsewhere shows no stories, and stays stored as it was.
    storeNumberOfStories(-4);
    dataSource.updateCurrentStories();
    EXPECT_EQ(dataSource.numberOfItems(), 0);
    EXPECT_EQ(table.numberOfRows(), 1);
    EXPECT_EQ(Preferences().numberOfStories(), -4);
}

TEST_F(TodayDataSourceTest, ServesTheNumberZeroAboveTheStoriesAndRowDataBelow)
{
    auto plain = std::make_shared<NewsStory>(std::nullopt, std::nullopt,
        Url::fromString(u"http://plain/"_s), std::nullopt, StoryTest::source());
    auto read = StoryTest::story(u"http://read/"_s, 30);
    auto readAndDeleted = StoryTest::story(u"http://read-and-deleted/"_s, 20);
    auto withIcon = std::make_shared<NewsStory>(u"h"_s, u"b"_s, Url::fromString(u"http://icon/"_s),
        std::nullopt, std::make_shared<Source>(u"Iconic"_s, u"http://iconic.example/feed"_s));
    (void)StoredStoriesData().storeStories({ plain, read, readAndDeleted, withIcon });
    StoryStateData states;
    (void)states.setState(*read, StoryState::Read);
    (void)states.setState(*readAndDeleted, StoryState::ReadAndDeleted);
    QImage icon(96, 96, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    SourceIconData::setIconForSourceLink(u"http://iconic.example/feed"_s, icon);

    TodayDataSource dataSource;
    dataSource.setExpanded(true);
    FakeController controller(1);
    dataSource.setDelegate(&controller);
    ASSERT_EQ(dataSource.numberOfRowsInTableView(nullptr), 5);

    const QVariant zero = dataSource.objectValueForTableColumn(nullptr, 0, 0);
    EXPECT_EQ(zero.typeId(), QMetaType::Int);
    EXPECT_EQ(zero, QVariant(0));
    EXPECT_FALSE(dataSource.objectValueForTableColumn(nullptr, 0, 5).isValid());

    auto row = [&](int r) {
        return dataSource.objectValueForTableColumn(nullptr, 0, r)
            .value<std::shared_ptr<const ListRowViewData>>();
    };
    const auto first = row(1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, u""_s);
    EXPECT_EQ(first->text, u""_s);
    EXPECT_FALSE(first->date);
    EXPECT_FALSE(first->read);
    // Neither own nor cached picture: the drawn default; no icon file: the default icon.
    ASSERT_TRUE(first->image);
    EXPECT_FALSE(first->image->isNull());
    EXPECT_EQ(*first->image, imageNamed(u"tickerly_default"_s));
    EXPECT_FALSE(first->icon.isNull());
    EXPECT_EQ(first->icon, imageNamed(u"default icon"_s));

    EXPECT_TRUE(row(2)->read);
    EXPECT_EQ(row(2)->title, u"Headline"_s);
    EXPECT_EQ(row(2)->date, read->date());
    EXPECT_FALSE(row(3)->read);
    EXPECT_EQ(row(4)->icon.pixelColor(48, 48), QColor(Qt::red));

    // The read marks are cached until a refresh starts.
    (void)StoryStateData().setState(*plain, StoryState::Read);
    EXPECT_FALSE(row(1)->read);
    dataSource.setDelegate(nullptr);
    dataSource.updateContents();
    (void)StoredStoriesData().storeStories({ plain });
    dataSource.updateCurrentStories();
    EXPECT_TRUE(row(0)->read);

    // A story's own picture comes first.
    QImage own(10, 10, QImage::Format_ARGB32);
    own.fill(Qt::blue);
    dataSource.stories.first()->setImage(own);
    EXPECT_EQ(row(0)->image, own);
}

// A story dated past the time its list was stored (beyond a few minutes of skew) shows that
// time, not the time of day of its far-off date; the held story keeps the feed's own date.
TEST_F(TodayDataSourceTest, AStoryDatedInTheFutureShowsTheTimeItWasLoaded)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 farFuture
        = QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC).toSecsSinceEpoch();
    (void)StoredStoriesData().storeStories({ StoryTest::story(u"http://future/"_s, farFuture),
        StoryTest::story(u"http://ahead/"_s, now + 86400),
        StoryTest::story(u"http://skew/"_s, now + 60),
        StoryTest::story(u"http://past/"_s, now - 3600) });
    const QDateTime loaded = *StoredStoriesData().lastLoaded();

    TodayDataSource dataSource;
    dataSource.setExpanded(true);
    ASSERT_EQ(dataSource.numberOfRowsInTableView(nullptr), 4);
    auto row = [&](int r) {
        return dataSource.objectValueForTableColumn(nullptr, 0, r)
            .value<std::shared_ptr<const ListRowViewData>>();
    };
    EXPECT_EQ(row(0)->date, loaded);
    EXPECT_EQ(row(1)->date, loaded);
    EXPECT_EQ(row(2)->date->toSecsSinceEpoch(), now + 60);
    EXPECT_EQ(row(3)->date->toSecsSinceEpoch(), now - 3600);
    EXPECT_EQ(dataSource.stories.first()->date()->toSecsSinceEpoch(), farFuture);

    ListCellView cell;
    cell.setObjectValue(dataSource.objectValueForTableColumn(nullptr, 0, 0));
    EXPECT_EQ(cell.contentView->timeLabel->stringValue(),
        ListRowContentView::timeLabelStringFromDate(loaded));
    EXPECT_NE(cell.contentView->timeLabel->stringValue(),
        ListRowContentView::timeLabelStringFromDate(
            QDateTime::fromSecsSinceEpoch(farFuture, Qt::UTC)));
}

TEST_F(TodayDataSourceTest, RemovingAStoryKeepsTheTableInStepWithTheHeldList)
{
    struct Case {
        const char* what;
        bool expanded;
        int extra, stored, index, rowsAfter;
        bool reloadedInPlace = false;
    };
    const Case cases[] = {
        { "application, last of 20, more stored", true, 1, 21, 19, 20, true },
        { "application, last of 20, no more stored", true, 1, 20, 19, 19 },
        { "widget expanded, 20 shown, more stored", true, 0, 22, 3, 20 },
        { "widget expanded, 20 shown, no more stored", true, 0, 20, 3, 19 },
        { "collapsed, a story below moves up", false, 1, 20, 2, 5 },
        { "collapsed, the last shown row", false, 1, 20, 4, 5 },
        { "collapsed, a story not shown", false, 1, 20, 10, 5 },
        { "collapsed, fewer than the setting", false, 1, 3, 1, 2 },
        { "outside the held list", false, 0, 3, 3, 3 },
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storeStories(c.stored, ++round);
        TodayDataSource dataSource;
        dataSource.setExpanded(c.expanded);
        TableView table;
        FakeController controller(c.extra);
        controller.attach(table, dataSource);
        // Slides are seen only while they run.
        table.setAnimationDuration(c.expanded ? 300 : 0);
        const int bindingsAbove = cellAt(table, c.extra)->bindings;

        dataSource.removeStory(c.index);
        EXPECT_EQ(table.numberOfRows(), c.rowsAfter + c.extra);
        expectRowsMatch(table, dataSource, c.extra);
        // Rows above are left alone rather than reloaded; the story from beyond the held list
        // may take the removed one's row in place, without a slide.
        if (c.index > 0) {
            EXPECT_EQ(cellAt(table, c.extra)->bindings, bindingsAbove);
        }
        if (c.expanded) {
            EXPECT_EQ(table.isAnimating(), !c.reloadedInPlace);
        }
        if (c.index < c.stored) {
            const QString link
                = StoryTest::linkNumber(c.index) + u"?round="_s + QString::number(round);
            EXPECT_EQ(StoryStateData().stateForLink(link), StoryState::Deleted);
        }
    }
}

TEST_F(TodayDataSourceTest, ASourcesChangeInThisProcessStartsARefresh)
{
    TodayDataSource dataSource;
    FakeController controller;
    dataSource.setDelegate(&controller);
    // Nothing answers there: the refresh ends at once, with the stored list kept.
    (void)SourcesData().addSource(
        std::make_shared<Source>(u"dead"_s, u"http://127.0.0.1:9/feed"_s));
    ASSERT_TRUE(TestSupport::waitFor([&] { return controller.events.size() == 2; }));
    EXPECT_EQ(controller.events, (QStringList { u"willReload"_s, u"didReload 0"_s }));
    EXPECT_TRUE(dataSource.didLoad);
}

TEST_F(TodayDataSourceTest, KeepsPicturesOnlyForTheStoriesItHolds)
{
    // A widget runs for days: pictures of stories that left the list must not pile up.
    storeStories(3, 1);
    TodayDataSource dataSource;
    QImage picture(8, 8, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::green);
    const QString held = StoryTest::linkNumber(1) + u"?round=1"_s;
    dataSource.imageCache.insert(held, picture);
    dataSource.imageCache.insert(u"http://news.example/gone"_s, picture);

    dataSource.updateCurrentStories();
    EXPECT_EQ(dataSource.imageCache.keys(), QStringList { held });
    const auto row = dataSource.listRowViewDataFromStory(*dataSource.stories.at(1));
    ASSERT_TRUE(row->image);
    EXPECT_EQ(row->image->pixelColor(0, 0), QColor(Qt::green));

    dataSource.removeStory(1);
    EXPECT_TRUE(dataSource.imageCache.isEmpty());
}

TEST_F(TodayDataSourceTest, RemovingAStoryAfterTheStoreChangedUnderneathShowsTheNewList)
{
    // The other process stores its own refresh without telling this one; a removal here reads
    // that list, and each row must then show the story a click on it opens.
    const auto storeTitled = [](const QString& prefix, int count) {
        QList<std::shared_ptr<NewsStory>> list;
        for (int i = 0; i < count; ++i) {
            list.append(StoryTest::story(u"http://news.example/"_s + prefix + QString::number(i),
                100000 - i, prefix + QString::number(i)));
        }
        (void)StoredStoriesData().storeStories(list);
    };
    struct Case {
        const char* what;
        bool expanded;
        int extra, before, after;
    };
    const Case cases[] = {
        { "widget collapsed", false, 0, 8, 8 },
        { "application expanded", true, 1, 8, 12 },
        { "application expanded, fewer than before", true, 1, 8, 4 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storeTitled(u"old"_s, c.before);
        TodayDataSource dataSource;
        dataSource.setExpanded(c.expanded);
        TableView table;
        FakeController controller(c.extra);
        controller.attach(table, dataSource);

        // The removed story is among the new ones, so it is the store's list less that one.
        storeTitled(u"new"_s, c.after);
        dataSource.stories[1] = StoryTest::story(u"http://news.example/new1"_s, 0, u"new1"_s);
        dataSource.removeStory(1);
        TestSupport::processEvents();
        EXPECT_EQ(dataSource.stories.size(), c.after - 1);
        expectRowsMatch(table, dataSource, c.extra);
    }
}

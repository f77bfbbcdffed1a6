#include "storylist/TodayDataSource.h"

#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "data/model/StoryStateData.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/Preferences.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using namespace storylisttest;

namespace {

// Written straight into the suite: a write through Preferences would announce itself, and the
// refresh it starts would replace the stories these tests store.
void storeNumberOfStories(qint64 count)
{
    sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), count);
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
            EXPECT_EQ(cell->data()->title, dataSource.stories.at(row - extra)->headline()) << "row " << row;
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

    // Without a delegate the handler is still told.
    dataSource.setDelegate(nullptr);
    int handled = 0;
    dataSource.updateContents([&](NCUpdateResult) { ++handled; });
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(table.numberOfRows(), 0);
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
    auto plain = std::make_shared<NewsStory>(std::nullopt, std::nullopt, Url::fromString(u"http://plain/"_s),
        std::nullopt, storytest::source());
    auto read = storytest::story(u"http://read/"_s, 30);
    auto readAndDeleted = storytest::story(u"http://read-and-deleted/"_s, 20);
    auto withIcon = std::make_shared<NewsStory>(u"h"_s, u"b"_s, Url::fromString(u"http://icon/"_s),
        std::nullopt, std::make_shared<Source>(u"Iconic"_s, u"http://iconic.example/feed"_s));
    StoredStoriesData().storeStories({ plain, read, readAndDeleted, withIcon });
    StoryStateData states;
    states.setState(*read, StoryState::Read);
    states.setState(*readAndDeleted, StoryState::ReadAndDeleted);
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
        return dataSource.objectValueForTableColumn(nullptr, 0, r).value<std::shared_ptr<const ListRowViewData>>();
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
    StoryStateData().setState(*plain, StoryState::Read);
    EXPECT_FALSE(row(1)->read);
    dataSource.setDelegate(nullptr);
    dataSource.updateContents();
    StoredStoriesData().storeStories({ plain });
    dataSource.updateCurrentStories();
    EXPECT_TRUE(row(0)->read);

    // A story's own picture comes first.
    QImage own(10, 10, QImage::Format_ARGB32);
    own.fill(Qt::blue);
    dataSource.stories.first()->setImage(own);
    EXPECT_EQ(row(0)->image, own);
}

TEST_F(TodayDataSourceTest, RemovingTheLastOfTwentyInTheApplicationWindow)
{
    for (const bool moreStored : { true, false }) {
        SCOPED_TRACE(moreStored ? "more stored" : "no more stored");
        storeStories(moreStored ? 21 : 20, moreStored);
        TodayDataSource dataSource;
        dataSource.setExpanded(true);
        TableView table;
        FakeController controller(1);
        controller.attach(table, dataSource);
        ASSERT_EQ(table.numberOfRows(), 21);
        QWidget* lastCell = table.viewAtRow(20);

        dataSource.removeStory(19);
        EXPECT_EQ(StoryStateData().stateForLink(storytest::linkNumber(19) + u"?round="_s + QString::number(moreStored)),
            StoryState::Deleted);
        EXPECT_EQ(table.numberOfRows(), moreStored ? 21 : 20);
        expectRowsMatch(table, dataSource, 1);
        // The story from beyond the held list takes the row in place.
        if (moreStored) {
            EXPECT_EQ(table.viewAtRow(20), lastCell);
            EXPECT_EQ(cellAt(table, 20)->data()->title, u"Story 20"_s);
        }
    }
}

TEST_F(TodayDataSourceTest, RemovingFromAFullExpandedWidgetList)
{
    for (const bool moreStored : { true, false }) {
        SCOPED_TRACE(moreStored ? "more stored" : "no more stored");
        storeStories(moreStored ? 22 : 20, moreStored);
        TodayDataSource dataSource;
        dataSource.setExpanded(true);
        TableView table;
        FakeController controller;
        controller.attach(table, dataSource);
        QWidget* above = table.viewAtRow(2);
        const int bindingsAbove = cellAt(table, 2)->bindings;

        dataSource.removeStory(3);
        EXPECT_EQ(table.numberOfRows(), moreStored ? 20 : 19);
        expectRowsMatch(table, dataSource, 0);
        EXPECT_EQ(cellAt(table, 19 - (moreStored ? 0 : 1))->data()->title, moreStored ? u"Story 20"_s : u"Story 19"_s);
        // Rows above the removed one are left alone, not reloaded.
        EXPECT_EQ(table.viewAtRow(2), above);
        EXPECT_EQ(cellAt(table, 2)->bindings, bindingsAbove);
    }
}

TEST_F(TodayDataSourceTest, RemovingFromACollapsedListKeepsTheTableInStep)
{
    struct Case {
        int stored, index, rowsAfter;
        const char* what;
    };
    int round = 0;
    for (const Case& c : { Case { 20, 2, 5, "a story below moves up" }, Case { 20, 4, 5, "the last shown row" },
             Case { 20, 10, 5, "a story not shown" }, Case { 3, 1, 2, "fewer than the setting" } }) {
        SCOPED_TRACE(c.what);
        storeStories(c.stored, ++round);
        TodayDataSource dataSource;
        TableView table;
        FakeController controller(1);
        controller.attach(table, dataSource);
        const int bindingsAbove = cellAt(table, 1)->bindings;

        dataSource.removeStory(c.index);
        EXPECT_EQ(table.numberOfRows(), c.rowsAfter + 1);
        expectRowsMatch(table, dataSource, 1);
        EXPECT_EQ(cellAt(table, 1)->bindings, bindingsAbove);
    }
}

TEST_F(TodayDataSourceTest, IgnoresRemovalsOutsideTheHeldList)
{
    storeStories(2);
    TodayDataSource dataSource;
    TableView table;
    FakeController controller;
    controller.attach(table, dataSource);
    dataSource.removeStory(2);
    dataSource.removeStory(-1);
    EXPECT_EQ(table.numberOfRows(), 2);
    EXPECT_EQ(StoredStoriesData().currentStories().size(), 2);
}

TEST_F(TodayDataSourceTest, ASourcesChangeInThisProcessStartsARefresh)
{
    TodayDataSource dataSource;
    FakeController controller;
    dataSource.setDelegate(&controller);
    // Nothing answers there: the refresh ends at once, with the stored list kept.
    SourcesData().addSource(std::make_shared<Source>(u"dead"_s, u"http://127.0.0.1:9/feed"_s));
    ASSERT_TRUE(testsupport::waitFor([&] { return controller.events.size() == 2; }));
    EXPECT_EQ(controller.events, (QStringList { u"willReload"_s, u"didReload 0"_s }));
    EXPECT_TRUE(dataSource.didLoad);
}

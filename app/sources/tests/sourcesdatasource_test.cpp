#include "app/sources/SourcesDataSource.h"
#include "platform/appkit/ProgressIndicator.h"
#include "app/sources/tests/SourcesTesting.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QScrollArea>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace SourcesTesting;

namespace {

struct Recorder : QObject, SourcesDataSourceDelegate, TableViewDelegate {
    void sourcesUpdated(SourcesDataSource* dataSource) override
    {
        counts << dataSource->numberOfItems();
    }
    QWidget* viewForTableColumn(TableView* table, int, int) override
    {
        return table->makeViewWithIdentifier(u"row"_s, this);
    }
    QList<int> counts;
};

class SourcesTable : public testing::Test {
protected:
    void SetUp() override
    {
        previousDuration = TableView::defaultAnimationDuration();
        TableView::setDefaultAnimationDuration(0);
    }
    void TearDown() override { TableView::setDefaultAnimationDuration(previousDuration); }

    // A table attached to a new data source, as the controller attaches it.
    void attach()
    {
        table = std::make_unique<TableView>();
        table->setRowHeight(60);
        table->resize(500, 400);
        table->registerCellPrototype(u"row"_s,
            [](QObject*) -> QWidget* { return SourceTableViewCell::makeFromPrototype(); });
        table->setDelegate(&recorder);
        dataSource = std::make_unique<SourcesDataSource>();
        dataSource->setDelegate(&recorder);
        dataSource->attachToTableView(table.get());
    }

    int previousDuration = 0;
    Recorder recorder;
    std::unique_ptr<TableView> table;
    std::unique_ptr<SourcesDataSource> dataSource;
};

QStringList titles(const QList<std::shared_ptr<Source>>& sources)
{
    QStringList names;
    for (const auto& s : sources)
        names << s->title();
    return names;
}

} // namespace

TEST_F(SourcesTable, FollowsAdditionsRemovalsAndUpdatesRowByRow)
{
    store(fiveSources());
    attach();
    ASSERT_EQ(shownNames(*table), titles(fiveSources()));
    QList<QPointer<QWidget>> cells;
    for (int row = 0; row < 5; ++row)
        cells << table->viewAtRow(row);

    SourcesData data;
    (void)data.addSource(source(u"Sixth Sense"_s, u"https://sixth.example/rss"_s));
    TestSupport::processEvents();
    EXPECT_EQ(shownNames(*table).size(), 6);
    EXPECT_EQ(shownNames(*table).last(), u"Sixth Sense"_s);
    EXPECT_EQ(recorder.counts, (QList<int> { 6 }));

    (void)data.removeSource(*fiveSources()[2]);
    TestSupport::processEvents();
    EXPECT_EQ(shownNames(*table),
        (QStringList { u"The Daily Harbour"_s, u"Northern Lights Weekly"_s, u"Market Notes"_s,
            u"Garden Letters"_s, u"Sixth Sense"_s }));
    EXPECT_EQ(table->rowForView(cells[2]), -1) << "the removed row's own cell left";
    EXPECT_EQ(table->viewAtRow(2), cells[3]) << "rows below moved up, not rebuilt";
    EXPECT_EQ(recorder.counts, (QList<int> { 6, 5 }));

    // A source whose icon search is still running shows the spinner until the store says the
    // search gave up.
    auto searching = source(u"Market Notes"_s, u"https://notes.example/markets/rss"_s, true);
    (void)data.updateSource(searching);
    TestSupport::processEvents();
    auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(2));
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->contentView()->data()->loadingIcon);
    searching->noIconFound = true;
    (void)data.updateSource(searching);
    TestSupport::processEvents();
    EXPECT_FALSE(cell->contentView()->data()->loadingIcon);
    EXPECT_FALSE(cell->contentView()->data()->icon);
    EXPECT_EQ(table->viewAtRow(2), cell);

    // Emptying the store tells no positions: the whole table reloads.
    (void)data.resetSources();
    TestSupport::processEvents();
    EXPECT_EQ(table->numberOfRows(), 0);
    EXPECT_EQ(recorder.counts.last(), 0);
    EXPECT_EQ(recorder.counts.size(), 5);
}

TEST_F(SourcesTable, TwoChangesStoredBeforeTheFirstArrivesMoveTheRightRows)
{
    store(fiveSources());
    attach();
    QPointer<QWidget> first = table->viewAtRow(0);
    QPointer<QWidget> second = table->viewAtRow(1);
    QPointer<QWidget> fifth = table->viewAtRow(4);

    // Two quick removals: both are stored before either notification is handled.
    SourcesData data;
    (void)data.removeSource(*fiveSources()[0]);
    (void)data.removeSource(*fiveSources()[1]);
    TestSupport::processEvents();
    EXPECT_EQ(shownNames(*table),
        (QStringList { u"Tech & Tides"_s, u"Market Notes"_s, u"Garden Letters"_s }));
    EXPECT_EQ(table->rowForView(first), -1);
    EXPECT_EQ(table->rowForView(second), -1);
    EXPECT_EQ(table->rowForView(fifth), 2) << "the rows that stay keep their cells";

    // Two quick additions land in order at the end.
    (void)data.addSource(source(u"A"_s, u"https://a.example/"_s));
    (void)data.addSource(source(u"B"_s, u"https://b.example/"_s));
    TestSupport::processEvents();
    EXPECT_EQ(shownNames(*table).mid(3), (QStringList { u"A"_s, u"B"_s }));
    EXPECT_EQ(table->rowForView(fifth), 2);
    EXPECT_EQ(recorder.counts, (QList<int> { 3, 3, 5, 5 }));

    // A notification naming rows the table never had is never read past the end.
    NotificationCenter::defaultCenter().post(SourcesData::changeNotification(), nullptr,
        { { SourcesData::removedSourcesKey(), QVariant::fromValue(QList<int> { 40 }) },
            { SourcesData::updatedSourcesKey(), QVariant::fromValue(QList<int> { -3 }) } });
    EXPECT_EQ(shownNames(*table).size(), 5);
    EXPECT_EQ(dataSource->objectValueForTableColumn(table.get(), 0, 5), QVariant());
    EXPECT_EQ(dataSource->objectValueForTableColumn(table.get(), 0, -1), QVariant());
}

TEST_F(SourcesTable, SlidesAddedRowsInAndRemovedRowsOut)
{
    store(fiveSources());
    table = nullptr;
    TableView::setDefaultAnimationDuration(250);
    attach();
    QPointer<QWidget> third = table->viewAtRow(2);

    SourcesData data;
    (void)data.removeSource(*fiveSources()[2]);
    TestSupport::processEvents();
    EXPECT_EQ(table->rowForView(third), -1);
    EXPECT_TRUE(table->isAnimating()) << "the row slides out";
    EXPECT_EQ(table->numberOfRows(), 4);

    (void)data.addSource(source(u"Late Edition"_s, u"https://late.example/"_s));
    TestSupport::processEvents();
    EXPECT_EQ(table->numberOfRows(), 5);
    EXPECT_TRUE(table->isAnimating()) << "the new row slides in";
    ASSERT_TRUE(TestSupport::waitFor([&] { return !table->isAnimating(); }));
    EXPECT_EQ(table->rectOfRow(4), QRect(0, 240, table->width(), 60));
    EXPECT_EQ(shownNames(*table).last(), u"Late Edition"_s);
}

TEST_F(SourcesTable, AnIconUpdateReloadsOnlyTheFirstEqualRow)
{
    auto searching = source(u"Market Notes"_s, u"https://notes.example/markets/rss"_s, true);
    store({ fiveSources()[0], searching });
    attach();
    auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(1));
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->contentView()->data()->loadingIcon);
    EXPECT_TRUE(cell->contentView()->spinner()->isVisibleTo(cell));

    // The cache holds the same source twice (the store never would): only the first reloads.
    dataSource->setSources({ fiveSources()[0], searching, searching });
    table->reloadData();
    auto* twin = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(2));
    cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(1));
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::darkCyan);
    SourceIconData::setIconForSource(searching, icon);
    TestSupport::processEvents();
    ASSERT_TRUE(cell->contentView()->data()->icon);
    EXPECT_FALSE(cell->contentView()->data()->loadingIcon);
    EXPECT_FALSE(cell->contentView()->spinner()->isVisibleTo(cell));
    EXPECT_TRUE(twin->contentView()->data()->loadingIcon) << "the second equal row stays";
    EXPECT_TRUE(recorder.counts.isEmpty()) << "the delegate hears nothing of icons";

    // An update for a source not shown, or with no source, changes nothing.
    NotificationCenter::defaultCenter().post(SourceIconData::iconUpdateNotification(), nullptr,
        { { SourceIconData::sourceKey(), u"not a source"_s } });
    EXPECT_TRUE(twin->contentView()->data()->loadingIcon);
}

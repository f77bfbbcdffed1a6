#pragma once

#include "storylist/Namespace.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/appkit/TableView.h"
#include "storylist/ListRowViewData.h"
#include "storylist/TodayDataSource.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QObject>
#include <QStringList>

#include <memory>

namespace Tickerly::StoryList {

namespace StoryListTest {

// A row that keeps what it was bound to and counts its bindings.
class CountingCell : public AppKit::TableCellView {
public:
    void setObjectValue(const QVariant& value) override
    {
        AppKit::TableCellView::setObjectValue(value);
        ++bindings;
    }
    std::shared_ptr<const ListRowViewData> data() const
    {
        return objectValue().value<std::shared_ptr<const ListRowViewData>>();
    }
    int bindings = 0;
};

// Plays the story list controller: the data source's delegate and the table's, recording what
// the data source tells it.
class FakeController : public QObject,
                       public TodayDataSourceDelegate,
                       public AppKit::TableViewDelegate {
public:
    explicit FakeController(int extraRowCount = 0)
        : extra(extraRowCount)
    {
    }

    // Attaches `table` to `dataSource` as the controllers do.
    void attach(AppKit::TableView& table, TodayDataSource& dataSource)
    {
        table.registerCellPrototype(
            QStringLiteral("cell"), [](QObject*) { return new CountingCell; });
        table.setDelegate(this);
        dataSource.attachToTableView(&table);
        dataSource.setDelegate(this);
        table.reloadData();
    }

    void willReload(TodayDataSource*) override { events.append(QStringLiteral("willReload")); }
    void didReload(TodayDataSource* dataSource) override
    {
        events.append(QStringLiteral("didReload ") + QString::number(dataSource->stories.size()));
        if (onDidReload)
            onDidReload();
    }
    int extraRows() const override { return extra; }
    QWidget* viewForTableColumn(AppKit::TableView* table, int, int) override
    {
        return table->makeViewWithIdentifier(QStringLiteral("cell"), this);
    }

    int extra;
    QStringList events;
    std::function<void()> onDidReload;
};

inline CountingCell* cellAt(AppKit::TableView& table, int row)
{
    return dynamic_cast<CountingCell*>(table.viewAtRow(row));
}

// Stores `count` stories, newest first, headlined "Story <i>"; `round` sets them apart from the
// stories (and the states) of an earlier round of the same test.
inline void storeStories(int count, int round = 0)
{
    QList<std::shared_ptr<Data::NewsStory>> list;
    for (int i = 0; i < count; ++i) {
        const QString link
            = Data::StoryTest::linkNumber(i) + QStringLiteral("?round=") + QString::number(round);
        list.append(Data::StoryTest::story(
            link, 100000 - i, QStringLiteral("Story ") + QString::number(i)));
    }
    (void)Data::StoredStoriesData().storeStories(list);
}

// Waits until every notification this process has posted on the bus so far has come back, so
// that none reaches a later test.
inline void drainPostedNotifications()
{
    auto& center = Foundation::DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        return;
    bool back = false;
    auto marker = center.addObserver(QStringLiteral("StoryListTestDrained"), QString(),
        [&](const QString&, const QString&) { back = true; });
    // Posts from one sender arrive in order.
    center.postNotificationName(QStringLiteral("StoryListTestDrained"));
    TestSupport::waitFor([&] { return back; });
}

} // namespace StoryListTest

} // namespace Tickerly::StoryList

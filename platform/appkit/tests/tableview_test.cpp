#include "platform/appkit/TableView.h"
#include "testsupport/TestSupport.h"

#include <QGraphicsEffect>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::waitFor;

namespace {

// A row that shows its object value as text and counts its bindings.
class TextCell : public TableCellView {
public:
    TextCell()
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }
    void setObjectValue(const QVariant& value) override
    {
        TableCellView::setObjectValue(value);
        label->setText(value.toString());
        ++bindings;
    }
    QLabel* label = nullptr;
    int bindings = 0;
};

// A list of texts as data source and delegate; records what the table asks.
class Model : public TableViewDataSource, public TableViewDelegate {
public:
    explicit Model(TableView& table, QStringList initial = {})
        : items(std::move(initial))
    {
        table.registerCellPrototype(u"cell"_s, [this](QObject*) {
            ++cellsMade;
            return new TextCell;
        });
        table.setDataSource(this);
        table.setDelegate(this);
        table.reloadData();
    }

    int numberOfRowsInTableView(TableView*) override { return int(items.size()); }
    QVariant objectValueForTableColumn(TableView*, int column, int row) override
    {
        ++valuesAsked;
        EXPECT_EQ(column, 0);
        if (row < 0 || row >= items.size()) {
            ++rowsAskedPastTheEnd;
            return {};
        }
        return items.at(row);
    }
    QWidget* viewForTableColumn(TableView* table, int, int row) override
    {
        if (onView)
            onView(row);
        return table->makeViewWithIdentifier(u"cell"_s, nullptr);
    }
    int heightOfRow(TableView* table, int row) override
    {
        return tallRow == row ? 40 : table->rowHeight();
    }

    QStringList items;
    std::function<void(int)> onView;
    int tallRow = -1;
    int cellsMade = 0;
    int valuesAsked = 0;
    int rowsAskedPastTheEnd = 0;
};

struct Table {
    explicit Table(int animationMs = 0)
    {
        view.setRowHeight(20);
        view.setIntercellSpacing(2);
        view.setAnimationDuration(animationMs);
        view.resize(300, 600);
        view.show();
    }
    TableView view;
};

QStringList shown(const TableView& table)
{
    QStringList texts;
    for (int row = 0; row < table.numberOfRows(); ++row) {
        auto* cell = qobject_cast<TableCellView*>(table.viewAtRow(row));
        texts.append(cell ? cell->objectValue().toString() : u"<none>"_s);
    }
    return texts;
}

// Every row in place at rest: one under the other at a pitch of height + spacing.
void expectStacked(const TableView& table)
{
    int y = 0;
    for (int row = 0; row < table.numberOfRows(); ++row) {
        const QRect rect = table.rectOfRow(row);
        EXPECT_EQ(rect.y(), y) << "row " << row;
        EXPECT_EQ(rect.width(), table.width());
        y += rect.height() + table.intercellSpacing();
    }
    EXPECT_EQ(table.contentHeight(), y);
}

} // namespace

TEST(TableView, ShowsEveryRowStackedByItsHeightAndTheSpacing)
{
    Table t;
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s, u"d"_s });
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(t.view.rectOfRow(3).y(), 66);
    EXPECT_EQ(t.view.contentHeight(), 88);
    EXPECT_EQ(t.view.minimumSizeHint().height(), 88);
    EXPECT_EQ(t.view.sizeHint().height(), 88);
    EXPECT_GT(t.view.sizeHint().width(), 0);

    model.tallRow = 1;
    t.view.setRowHeight(30); // heights are asked again
    EXPECT_EQ(t.view.rectOfRow(1).height(), 40);
    EXPECT_EQ(t.view.rectOfRow(2).y(), 32 + 42);
    expectStacked(t.view);

    t.view.resize(180, 600);
    EXPECT_EQ(t.view.viewAtRow(0)->width(), 180);
    EXPECT_EQ(t.view.rowForView(nullptr), -1);
    EXPECT_EQ(t.view.rowForView(&t.view), -1);
    QWidget stranger;
    EXPECT_EQ(t.view.rowForView(&stranger), -1);
    // Any view inside a row belongs to it.
    EXPECT_EQ(t.view.rowForView(static_cast<TextCell*>(t.view.viewAtRow(2))->label), 2);
}

TEST(TableView, ReloadsOnTheNextTurnOnceItsDataSourceIsSet)
{
    TableView table;
    QStringList texts { u"x"_s, u"y"_s };
    struct Source : TableViewDataSource {
        QStringList* texts;
        int numberOfRowsInTableView(TableView*) override { return int(texts->size()); }
        QVariant objectValueForTableColumn(TableView*, int, int row) override
        {
            return texts->at(row);
        }
    } source;
    source.texts = &texts;
    table.setDataSource(&source);
    EXPECT_EQ(table.numberOfRows(), 0);
    TestSupport::processEvents();
    EXPECT_EQ(table.numberOfRows(), 2);
    table.setDataSource(nullptr);
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 0);
}

TEST(TableView, InsertsAndRemovesRowsInTheMiddleAndAtBothEnds)
{
    Table t;
    Model model(t.view, { u"b"_s, u"d"_s });
    QWidget* b = t.view.viewAtRow(0);
    QWidget* d = t.view.viewAtRow(1);

    model.items = { u"a"_s, u"b"_s, u"d"_s };
    t.view.insertRowsAtIndexes({ 0 }, TableViewAnimation::SlideDown);
    model.items = { u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s };
    t.view.insertRowsAtIndexes({ 2, 4 }, TableViewAnimation::SlideDown);
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(t.view.viewAtRow(1), b);
    EXPECT_EQ(t.view.viewAtRow(3), d);
    expectStacked(t.view);

    model.items = { u"b"_s, u"d"_s, u"e"_s };
    t.view.removeRowsAtIndexes({ 0, 2 }, TableViewAnimation::SlideUp);
    model.items = { u"b"_s, u"d"_s };
    t.view.removeRowsAtIndexes({ 2 }, TableViewAnimation::SlideUp);
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(t.view.viewAtRow(0), b);
    EXPECT_EQ(t.view.viewAtRow(1), d);
    expectStacked(t.view);

    model.items.clear();
    t.view.removeRowsAtIndexes({ 0, 1 }, TableViewAnimation::Fade);
    EXPECT_EQ(t.view.numberOfRows(), 0);
    EXPECT_EQ(t.view.contentHeight(), 0);
    EXPECT_EQ(model.rowsAskedPastTheEnd, 0);
}

TEST(TableView, AppliesABatchInOrderAndAsksForValuesOnlyWhenItEnds)
{
    Table t;
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s });
    QWidget* c = t.view.viewAtRow(2);
    const int asked = model.valuesAsked;

    model.items = { u"new"_s, u"a"_s, u"C"_s, u"end"_s };
    t.view.beginUpdates();
    t.view.removeRowsAtIndexes({ 1 }, TableViewAnimation::SlideUp);
    t.view.insertRowsAtIndexes({ 0 }, TableViewAnimation::SlideDown);
    t.view.reloadDataForRowIndexes({ 2 });
    t.view.beginUpdates(); // nested batches end with the outermost
    t.view.insertRowsAtIndexes({ 3 }, TableViewAnimation::SlideUp);
    t.view.endUpdates();
    EXPECT_EQ(model.valuesAsked, asked);
    t.view.endUpdates();

    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(t.view.viewAtRow(2), c); // reloaded in its own widget
    EXPECT_EQ(model.valuesAsked, asked + 3);
    expectStacked(t.view);
}

TEST(TableView, RowForViewIsMinusOneForARowSlidingOutWhileTheRowsBelowMoveUp)
{
    Table t(200);
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s, u"d"_s });
    QWidget* b = t.view.viewAtRow(1);
    QWidget* c = t.view.viewAtRow(2);

    model.items.removeAt(1);
    t.view.removeRowsAtIndexes({ 1 }, TableViewAnimation::SlideUp);
    EXPECT_TRUE(t.view.isAnimating());
    EXPECT_EQ(t.view.rowForView(b), -1);
    EXPECT_EQ(t.view.rowForView(c), 1);
    EXPECT_EQ(t.view.numberOfRows(), 3);
    EXPECT_EQ(shown(t.view), model.items);

    // The rows below glide up: seen between where they were and where they go.
    EXPECT_TRUE(waitFor([&] {
        const int y = t.view.rectOfRow(1).y();
        return y > 22 && y < 44;
    }));
    EXPECT_TRUE(b->isVisible());
    EXPECT_EQ(t.view.rowForView(b), -1);

    ASSERT_TRUE(waitFor([&] { return !t.view.isAnimating(); }));
    EXPECT_FALSE(b->isVisible());
    EXPECT_EQ(t.view.rowForView(b), -1);
    EXPECT_EQ(t.view.rowForView(c), 1);
    expectStacked(t.view);

    // A fading insert ends fully opaque, without its effect.
    model.items.append(u"e"_s);
    t.view.insertRowsAtIndexes({ 3 }, TableViewAnimation::Fade);
    EXPECT_EQ(t.view.rowForView(t.view.viewAtRow(3)), 3);
    ASSERT_TRUE(waitFor([&] { return !t.view.isAnimating(); }));
    EXPECT_EQ(t.view.viewAtRow(3)->parentWidget()->graphicsEffect(), nullptr);
    expectStacked(t.view);
}

TEST(TableView, ReloadOfOneRowKeepsEveryRowsWidget)
{
    Table t;
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s });
    QList<QWidget*> before;
    for (int row = 0; row < 3; ++row)
        before.append(t.view.viewAtRow(row));
    const int made = model.cellsMade;

    model.items[1] = u"B"_s;
    t.view.reloadDataForRowIndexes({ 1, 7 });
    EXPECT_EQ(shown(t.view), model.items);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(t.view.viewAtRow(row), before[row]);
    EXPECT_EQ(static_cast<TextCell*>(before[0])->bindings, 1);
    EXPECT_EQ(static_cast<TextCell*>(before[1])->bindings, 2);
    EXPECT_EQ(model.cellsMade, made);

    // A full reload hands the same widgets back, row for row.
    t.view.reloadData();
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(t.view.viewAtRow(row), before[row]);
    EXPECT_EQ(model.cellsMade, made);
}

TEST(TableView, ReloadsInsteadOfAskingForRowsADataSourceNoLongerHas)
{
    Table t(200);
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s });

    // Three rows went before the table heard of the first.
    model.items = { u"a"_s, u"e"_s };
    t.view.beginUpdates();
    t.view.removeRowsAtIndexes({ 1 }, TableViewAnimation::SlideUp);
    t.view.reloadDataForRowIndexes({ 3 });
    t.view.endUpdates();
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_FALSE(t.view.isAnimating());
    expectStacked(t.view);

    // Stale indexes: past the end, or a reload of a row that went.
    model.items = { u"a"_s };
    t.view.reloadDataForRowIndexes({ 1 });
    EXPECT_EQ(shown(t.view), model.items);
    t.view.removeRowsAtIndexes({ 5 }, TableViewAnimation::SlideUp);
    t.view.insertRowsAtIndexes({ 9 }, TableViewAnimation::SlideDown);
    EXPECT_EQ(shown(t.view), model.items);

    model.items = { u"a"_s, u"b"_s };
    t.view.endUpdates(); // unbalanced: ignored
    EXPECT_EQ(t.view.numberOfRows(), 1);
    EXPECT_EQ(model.rowsAskedPastTheEnd, 0);
}

TEST(TableView, SurvivesChangesMadeFromInsideItsOwnRowsAndAnswers)
{
    Table t;
    Model model(t.view, { u"a"_s, u"b"_s, u"c"_s });
    auto* button = new QPushButton(t.view.viewAtRow(1));
    QObject::connect(button, &QPushButton::clicked, &t.view, [&] {
        const int row = t.view.rowForView(button);
        model.items.removeAt(row);
        t.view.removeRowsAtIndexes({ row }, TableViewAnimation::None);
        t.view.reloadData();
    });
    button->click();
    TestSupport::processEvents();
    EXPECT_EQ(shown(t.view), model.items);

    // A delegate that reloads the table while making a row: reloaded once, consistent.
    int reentered = 0;
    model.onView = [&](int row) {
        if (row == 1 && reentered++ == 0) {
            model.items.append(u"late"_s);
            t.view.reloadData();
        }
    };
    t.view.reloadData();
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(model.rowsAskedPastTheEnd, 0);
}

TEST(TableView, ForgetsADataSourceAndDelegateThatAreGone)
{
    TableView table;
    table.setAnimationDuration(0);
    struct Source : QObject, TableViewDataSource, TableViewDelegate {
        int numberOfRowsInTableView(TableView*) override { return 2; }
        QVariant objectValueForTableColumn(TableView*, int, int row) override { return row; }
        QWidget* viewForTableColumn(TableView*, int, int) override { return new TableCellView; }
    };
    auto* source = new Source;
    table.setDataSource(source);
    table.setDelegate(source);
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 2);
    delete source;
    EXPECT_EQ(table.dataSource(), nullptr);
    EXPECT_EQ(table.delegate(), nullptr);
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 0);
}

TEST(TableView, PreparedCellsFillTheRowsThatComeLaterAndAreNeverShownBefore)
{
    Table t;
    Model model(t.view, { u"a"_s });
    EXPECT_EQ(model.cellsMade, 1);

    // Counted with those already waiting; none for an identifier without a prototype.
    t.view.prepareViewsWithIdentifier(u"cell"_s, 3, nullptr);
    t.view.prepareViewsWithIdentifier(u"cell"_s, 2, nullptr);
    t.view.prepareViewsWithIdentifier(u"other"_s, 5, nullptr);
    EXPECT_EQ(model.cellsMade, 4);
    int visibleCells = 0;
    for (auto* cell : t.view.findChildren<TextCell*>())
        visibleCells += cell->isVisibleTo(&t.view) ? 1 : 0;
    EXPECT_EQ(visibleCells, 1);

    model.items = { u"a"_s, u"b"_s, u"c"_s, u"d"_s };
    t.view.reloadData();
    EXPECT_EQ(shown(t.view), model.items);
    EXPECT_EQ(model.cellsMade, 4);
    expectStacked(t.view);

    // The pool stays bounded however many are asked for.
    t.view.prepareViewsWithIdentifier(u"cell"_s, 1000, nullptr);
    EXPECT_LT(model.cellsMade, 100);
}

TEST(TableView, MakesOnlyTheRowsItsScrollViewShowsAndTheRestAsTheyScrollIntoSight)
{
    // A thousand sources must not cost a thousand rows before the window first paints.
    QScrollArea scroll;
    scroll.setWidgetResizable(true);
    scroll.resize(300, 110);
    auto* table = new TableView;
    table->setRowHeight(20);
    table->setIntercellSpacing(2);
    table->setAnimationDuration(0);
    scroll.setWidget(table);
    QStringList items;
    for (int i = 0; i < 1000; ++i)
        items.append(u"item %1"_s.arg(i));
    Model model(*table, items);
    scroll.show();
    TestSupport::processEvents();

    const auto shownCells = [&] {
        QStringList texts;
        for (TextCell* cell : table->findChildren<TextCell*>()) {
            if (cell->isVisibleTo(table) && table->rowForView(cell) >= 0)
                texts.append(cell->objectValue().toString());
        }
        texts.sort();
        return texts;
    };
    EXPECT_EQ(table->numberOfRows(), 1000);
    EXPECT_EQ(table->contentHeight(), 1000 * 22);
    EXPECT_LE(model.cellsMade, 20);
    EXPECT_LE(model.valuesAsked, 20);
    for (int row = 0; row < 5; ++row)
        EXPECT_TRUE(shownCells().contains(u"item %1"_s.arg(row))) << row;

    scroll.verticalScrollBar()->setValue(500 * 22);
    const QStringList later = shownCells();
    for (int row = 500; row < 505; ++row)
        EXPECT_TRUE(later.contains(u"item %1"_s.arg(row))) << row;
    EXPECT_LE(model.cellsMade, 40);
    EXPECT_EQ(table->rectOfRow(500), QRect(0, 500 * 22, table->width(), 20));

    // Asked for, a row far away is made at once; removing rows never made costs no view.
    EXPECT_EQ(qobject_cast<TableCellView*>(table->viewAtRow(900))->objectValue().toString(),
        u"item 900"_s);
    const int made = model.cellsMade;
    model.items.removeAt(800);
    table->removeRowsAtIndexes({ 800 }, TableViewAnimation::SlideUp);
    EXPECT_EQ(table->numberOfRows(), 999);
    EXPECT_EQ(model.cellsMade, made);
    EXPECT_EQ(qobject_cast<TableCellView*>(table->viewAtRow(800))->objectValue().toString(),
        u"item 801"_s);
}

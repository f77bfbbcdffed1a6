#pragma once

#include "platform/appkit/Namespace.h"
#include "platform/appkit/WeakDelegate.h"

#include "tickerlyappkit_export.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace Tickerly::AppKit {

class TableView;

// How rows enter and leave. Raw values as the platform numbers them (slide-up 0x10,
// slide-down 0x20).
enum class TableViewAnimation {
    None = 0x0,
    Fade = 0x1,
    SlideUp = 0x10,
    SlideDown = 0x20,
};

// What the table shows: the number of rows and each row's object value. Asked on the main
// thread only, and only for rows below the count it last reported.
class TICKERLYAPPKIT_EXPORT TableViewDataSource {
public:
    virtual ~TableViewDataSource();
    virtual int numberOfRowsInTableView(TableView* tableView) = 0;
    // An invalid QVariant is "no object".
    virtual QVariant objectValueForTableColumn(TableView* tableView, int column, int row) = 0;
};

// Makes the view of each row (usually through `TableView::makeViewWithIdentifier`).
class TICKERLYAPPKIT_EXPORT TableViewDelegate {
public:
    virtual ~TableViewDelegate();
    // The row's view, or null for an empty row. The table takes ownership.
    virtual QWidget* viewForTableColumn(TableView* tableView, int column, int row) = 0;
    // The row's height; the table's `rowHeight` unless overridden.
    virtual int heightOfRow(TableView* tableView, int row);
};

// A row view that receives the row's object value from the table. Subclasses override
// `setObjectValue` to bind, calling the base first so `objectValue` reads back the value.
class TICKERLYAPPKIT_EXPORT TableCellView : public QWidget {
    Q_OBJECT
public:
    explicit TableCellView(QWidget* parent = nullptr);
    ~TableCellView() override;

    QVariant objectValue() const { return m_objectValue; }
    virtual void setObjectValue(const QVariant& value);

    // The identifier it was made under by `TableView::makeViewWithIdentifier`, else empty.
    QString identifier() const;

private:
    QVariant m_objectValue;
};

// A view-based table of one column whose rows are live widgets, stacked top to bottom by
// their heights plus `intercellSpacing`. No header, no selection, no background of its own.
//
// It is a document view: it reports its content height as its size hints and lays its rows
// out over its own width; put it in a QScrollArea (widgetResizable) or the project's own
// scroll view to scroll. Main thread only; owned by its parent widget. The data source and
// delegate are not owned; when they are QObjects the table forgets them when they die.
//
// A reload asks every row's height at once but its view and object value only once the row
// comes near the part of the table that its ancestors let show (or `viewAtRow` asks for it),
// so that a long list costs what is seen.
//
// Inserts, removals and reloads of rows are applied in the order made. Views and object
// values of inserted and reloaded rows are asked for when the outermost `endUpdates` runs
// (at once outside a batch); if the data source's row count then differs from the table's,
// the table reloads all its data instead of asking for rows that do not exist.
class TICKERLYAPPKIT_EXPORT TableView : public QWidget {
    Q_OBJECT
public:
    // Makes a new cell for an identifier; `owner` is what `makeViewWithIdentifier` was given.
    using CellFactory = std::function<QWidget*(QObject* owner)>;

    explicit TableView(QWidget* parent = nullptr);
    ~TableView() override;

    TableViewDataSource* dataSource() const;
    // Setting the data source or the delegate reloads the table on the next turn of the event
    // loop unless `reloadData` runs before.
    void setDataSource(TableViewDataSource* dataSource);
    TableViewDelegate* delegate() const;
    void setDelegate(TableViewDelegate* delegate);

    void registerCellPrototype(const QString& identifier, CellFactory factory);
    // A cell for `identifier`: one the table no longer shows, else a new one from the
    // prototype; null for an unknown identifier. Parented to the table until placed in a row;
    // one the delegate makes but does not return is kept for later.
    QWidget* makeViewWithIdentifier(const QString& identifier, QObject* owner);
    // Makes cells for `identifier` from its prototype until `count` wait for reuse, so that a
    // table about to be filled need not make them then.
    void prepareViewsWithIdentifier(const QString& identifier, int count, QObject* owner);

    int rowHeight() const { return m_rowHeight; }
    void setRowHeight(int height);
    int intercellSpacing() const { return m_intercellSpacing; }
    void setIntercellSpacing(int spacing);

    // Length of the row animations in milliseconds; 0 makes every change immediate.
    int animationDuration() const { return m_animationDuration; }
    void setAnimationDuration(int msecs);
    // The duration new tables start with (tests set 0).
    static int defaultAnimationDuration();
    static void setDefaultAnimationDuration(int msecs);

    void reloadData();
    // Asks the object value of each given row again and hands it to the row's existing view.
    void reloadDataForRowIndexes(const QList<int>& rows, const QList<int>& columns = { 0 });
    void beginUpdates();
    void endUpdates();
    // Each index is a position once the rows before it in the list are inserted.
    void insertRowsAtIndexes(const QList<int>& rows, TableViewAnimation animation);
    // Indexes name the rows as they are before this call; indexes past the end are ignored.
    void removeRowsAtIndexes(const QList<int>& rows, TableViewAnimation animation);

    int numberOfRows() const;
    // The row of `view` or of the row view holding it; -1 for any other view, a row
    // animating out included.
    int rowForView(const QWidget* view) const;
    // The view of a row (null for none or out of range); made now if the row had none yet.
    QWidget* viewAtRow(int row) const;
    // Where a row currently lies in the table (its view's height, without the spacing).
    QRect rectOfRow(int row) const;
    int contentHeight() const { return m_contentHeight; }
    bool isAnimating() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void contentHeightChanged(int height);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row;

    int dataSourceRowCount();
    int liveIndexOf(const Row* row) const;
    Row* liveRow(int row) const;
    std::vector<std::unique_ptr<Row>>::iterator slotForInsertion(int row);
    std::unique_ptr<Row> makeRow();
    void ensureContainer(Row* row);
    bool materialize(Row* row, int index);
    void reloadForMaterialized();
    void place(Row* row);
    QRect wantedBand() const;
    bool hasDeferredRows() const;
    void watchAncestors();
    void fetchContent(Row* row, int index);
    void rebind(Row* row, int index);
    int askHeight(int index);
    void animate(Row* row, qreal to, TableViewAnimation animation, bool anchorBottom);
    void finishAnimation(Row* row);
    void discard(Row* row);
    void recycle(QWidget* cell);
    QWidget* cellFromPrototype(const QString& identifier, QObject* owner);
    void applyUpdates();
    void scheduleReload();
    bool deferWhileApplying();
    void layoutRows();

    WeakDelegate<TableViewDataSource> m_dataSource;
    WeakDelegate<TableViewDelegate> m_delegate;

    std::vector<std::unique_ptr<Row>> m_rows; // visual order: live rows and rows leaving
    QHash<QString, CellFactory> m_prototypes;
    QHash<QString, QList<QPointer<QWidget>>> m_reusable;
    QList<QPointer<QWidget>> m_handedOut;
    QWidget* m_cellPool = nullptr;
    // The ancestors whose size or place decides which rows show.
    QList<QPointer<QWidget>> m_watched;

    int m_rowHeight = 17;
    int m_intercellSpacing = 0;
    int m_animationDuration;
    int m_contentHeight = 0;
    int m_batchDepth = 0;
    bool m_applying = false;
    bool m_reloadAfterApplying = false;
    bool m_reloadScheduled = false;
    int m_materializedReloads = 0;
};

} // namespace Tickerly::AppKit

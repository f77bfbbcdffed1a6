#include "platform/appkit/TableView.h"
#include "platform/appkit/TableView_p.h"

#include <QLoggingCategory>
#include <QVariantAnimation>

#include <algorithm>
#include <utility>

namespace Tickerly::AppKit {

Q_LOGGING_CATEGORY(lcTableView, "tickerly.appkit.tableview")

namespace {

constexpr const char* kIdentifierProperty = "_tickerly_cellIdentifier";
// Reused cells kept per identifier beyond those on screen.
constexpr int kReusableLimit = 64;
// Bounds a data source that keeps changing the table from inside its own answers.
constexpr int kMaxReloadPasses = 4;
constexpr int kMaxRowHeight = 1 << 20;

int s_defaultAnimationDuration = 250;

QList<int> sortedUnique(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

} // namespace

TableViewDataSource::~TableViewDataSource() = default;
TableViewDelegate::~TableViewDelegate() = default;

int TableViewDelegate::heightOfRow(TableView* tableView, int) { return tableView->rowHeight(); }

TableCellView::TableCellView(QWidget* parent)
    : QWidget(parent)
{
}

TableCellView::~TableCellView() = default;

void TableCellView::setObjectValue(const QVariant& value) { m_objectValue = value; }

QString TableCellView::identifier() const { return property(kIdentifierProperty).toString(); }

TableView::TableView(QWidget* parent)
    : QWidget(parent)
    , m_animationDuration(s_defaultAnimationDuration)
{
    m_cellPool = new QWidget(this);
    m_cellPool->hide();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

TableView::~TableView()
{
    for (auto& row : m_rows) {
        if (row->animation) {
            row->animation->disconnect(this);
            delete row->animation;
        }
    }
}

TableViewDataSource* TableView::dataSource() const { return m_dataSource.get(); }

void TableView::setDataSource(TableViewDataSource* dataSource)
{
    m_dataSource.set(dataSource);
    scheduleReload();
}

TableViewDelegate* TableView::delegate() const { return m_delegate.get(); }

void TableView::setDelegate(TableViewDelegate* delegate)
{
    m_delegate.set(delegate);
    scheduleReload();
}

void TableView::registerCellPrototype(const QString& identifier, CellFactory factory)
{
    m_prototypes.insert(identifier, std::move(factory));
}

QWidget* TableView::makeViewWithIdentifier(const QString& identifier, QObject* owner)
{
    QWidget* cell = nullptr;
    if (auto reusable = m_reusable.find(identifier); reusable != m_reusable.end()) {
        while (!cell && !reusable->isEmpty())
            cell = reusable->takeFirst();
    }
    if (!cell)
        cell = cellFromPrototype(identifier, owner);
    if (cell && m_applying)
        m_handedOut.append(cell);
    return cell;
}

// A new cell of `identifier`'s prototype, kept in the pool; null without one.
QWidget* TableView::cellFromPrototype(const QString& identifier, QObject* owner)
{
    const auto prototype = m_prototypes.constFind(identifier);
    if (prototype == m_prototypes.constEnd() || !*prototype)
        return nullptr;
    QWidget* cell = (*prototype)(owner);
    if (!cell)
        return nullptr;
    cell->setProperty(kIdentifierProperty, identifier);
    cell->setParent(m_cellPool);
    return cell;
}

void TableView::prepareViewsWithIdentifier(const QString& identifier, int count, QObject* owner)
{
    QList<QPointer<QWidget>>& reusable = m_reusable[identifier];
    reusable.removeIf([](const QPointer<QWidget>& cell) { return !cell; });
    while (reusable.size() < std::min(count, kReusableLimit)) {
        QWidget* cell = cellFromPrototype(identifier, owner);
        if (!cell)
            return;
        reusable.append(cell);
    }
}

void TableView::setRowHeight(int height)
{
    m_rowHeight = std::clamp(height, 0, kMaxRowHeight);
    if (deferWhileApplying())
        return;
    m_applying = true;
    int index = 0;
    for (const auto& row : m_rows) {
        if (row->leaving)
            continue;
        if (!row->needsContent)
            row->height = askHeight(index);
        ++index;
    }
    m_applying = false;
    if (std::exchange(m_reloadAfterApplying, false))
        reloadData();
    else
        layoutRows();
}

void TableView::setIntercellSpacing(int spacing)
{
    m_intercellSpacing = std::clamp(spacing, 0, kMaxRowHeight);
    layoutRows();
}

void TableView::setAnimationDuration(int msecs) { m_animationDuration = std::max(0, msecs); }

int TableView::defaultAnimationDuration() { return s_defaultAnimationDuration; }

void TableView::setDefaultAnimationDuration(int msecs)
{
    s_defaultAnimationDuration = std::max(0, msecs);
}

void TableView::reloadData()
{
    if (deferWhileApplying())
        return;
    m_reloadScheduled = false;
    for (int pass = 0; pass < kMaxReloadPasses; ++pass) {
        // Cells go back for reuse in row order, so an unchanged table gets its widgets back.
        for (const auto& row : m_rows)
            discard(row.get());
        m_rows.clear();

        m_applying = true;
        const int count = dataSourceRowCount();
        for (int index = 0; index < count; ++index) {
            auto row = std::make_unique<Row>();
            row->height = askHeight(index);
            row->deferred = true;
            m_rows.push_back(std::move(row));
        }
        m_applying = false;
        if (!std::exchange(m_reloadAfterApplying, false))
            break;
        if (pass + 1 == kMaxReloadPasses)
            qCWarning(lcTableView) << "the data source keeps changing the table while it loads";
    }
    layoutRows();
}

void TableView::reloadDataForRowIndexes(const QList<int>& rows, const QList<int>& columns)
{
    if (deferWhileApplying() || !columns.contains(0))
        return;
    beginUpdates();
    for (const int index : rows) {
        if (Row* row = liveRow(index))
            row->needsReload = true;
    }
    endUpdates();
}

void TableView::beginUpdates() { ++m_batchDepth; }

void TableView::endUpdates()
{
    if (m_batchDepth == 0) {
        qCWarning(lcTableView) << "endUpdates without beginUpdates";
        return;
    }
    if (--m_batchDepth == 0)
        applyUpdates();
}

void TableView::insertRowsAtIndexes(const QList<int>& rows, TableViewAnimation animation)
{
    if (deferWhileApplying())
        return;
    beginUpdates();
    for (const int index : sortedUnique(rows)) {
        if (index < 0 || index > numberOfRows()) {
            qCWarning(lcTableView)
                << "insert at" << index << "past the end of" << numberOfRows() << "rows ignored";
            continue;
        }
        auto row = makeRow();
        row->progress = 0.0;
        row->needsContent = true;
        row->pendingAnimation = animation;
        m_rows.insert(slotForInsertion(index), std::move(row));
    }
    endUpdates();
}

void TableView::removeRowsAtIndexes(const QList<int>& rows, TableViewAnimation animation)
{
    if (deferWhileApplying())
        return;
    beginUpdates();
    // Resolved first: every index names a row as the table was before this call.
    QList<Row*> leaving;
    for (const int index : sortedUnique(rows)) {
        if (Row* row = liveRow(index))
            leaving.append(row);
        else
            qCWarning(lcTableView)
                << "removal of row" << index << "of" << numberOfRows() << "ignored";
    }
    for (Row* row : std::as_const(leaving)) {
        row->leaving = true;
        row->needsContent = false;
        row->needsReload = false;
        animate(row, 0.0, animation, animation == TableViewAnimation::SlideUp);
    }
    endUpdates();
}

int TableView::numberOfRows() const
{
    return int(
        std::count_if(m_rows.begin(), m_rows.end(), [](const auto& row) { return !row->leaving; }));
}

int TableView::rowForView(const QWidget* view) const
{
    for (const QWidget* w = view; w && w != this; w = w->parentWidget()) {
        if (w->parentWidget() == this) {
            for (const auto& row : m_rows) {
                if (row->container == w)
                    return row->leaving ? -1 : liveIndexOf(row.get());
            }
            return -1;
        }
        if (w->isWindow())
            break;
    }
    return -1;
}

QWidget* TableView::viewAtRow(int row) const
{
    Row* found = liveRow(row);
    if (found && found->deferred && !m_applying) {
        auto* self = const_cast<TableView*>(this);
        if (self->materialize(found, row)) {
            self->reloadForMaterialized();
            found = liveRow(row);
            if (found && found->deferred && self->materialize(found, row))
                self->scheduleReload();
        }
    }
    return found ? found->cell.data() : nullptr;
}

int TableView::dataSourceRowCount()
{
    // Far beyond any list this program shows; a runaway count must not make a million widgets.
    constexpr int kMaxRows = 10000;
    TableViewDataSource* source = dataSource();
    if (!source)
        return 0;
    const int count = source->numberOfRowsInTableView(this);
    if (count > kMaxRows)
        qCWarning(lcTableView) << "row count" << count << "capped at" << kMaxRows;
    return std::clamp(count, 0, kMaxRows);
}

int TableView::liveIndexOf(const Row* row) const
{
    int index = 0;
    for (const auto& candidate : m_rows) {
        if (candidate.get() == row)
            return row->leaving ? -1 : index;
        if (!candidate->leaving)
            ++index;
    }
    return -1;
}

TableView::Row* TableView::liveRow(int row) const
{
    if (row < 0)
        return nullptr;
    int index = 0;
    for (const auto& candidate : m_rows) {
        if (candidate->leaving)
            continue;
        if (index == row)
            return candidate.get();
        ++index;
    }
    return nullptr;
}

std::vector<std::unique_ptr<TableView::Row>>::iterator TableView::slotForInsertion(int row)
{
    int index = 0;
    for (auto it = m_rows.begin(); it != m_rows.end(); ++it) {
        if ((*it)->leaving)
            continue;
        if (index == row)
            return it;
        ++index;
    }
    return m_rows.end();
}

std::unique_ptr<TableView::Row> TableView::makeRow()
{
    auto row = std::make_unique<Row>();
    ensureContainer(row.get());
    return row;
}

void TableView::ensureContainer(Row* row)
{
    if (row->container)
        return;
    row->container = new QWidget(this);
    row->container->show();
}

// Asks for the view and value of a row that had none, and places it. True when the delegate
// changed the table while answering, which then wants reloading.
bool TableView::materialize(Row* row, int index)
{
    m_applying = true;
    fetchContent(row, index);
    m_applying = false;
    place(row);
    return std::exchange(m_reloadAfterApplying, false);
}

// A reload that making a row asked for, bounded like the reloads asked for while loading.
void TableView::reloadForMaterialized()
{
    if (m_materializedReloads >= kMaxReloadPasses) {
        qCWarning(lcTableView) << "the data source keeps changing the table while it loads";
        scheduleReload();
        return;
    }
    ++m_materializedReloads;
    reloadData();
    --m_materializedReloads;
}

int TableView::askHeight(int index)
{
    TableViewDelegate* d = delegate();
    return std::clamp(d ? d->heightOfRow(this, index) : m_rowHeight, 0, kMaxRowHeight);
}

void TableView::fetchContent(Row* row, int index)
{
    row->needsContent = false;
    row->deferred = false;
    ensureContainer(row);
    row->height = askHeight(index);
    QWidget* cell = nullptr;
    if (TableViewDelegate* d = delegate()) {
        m_handedOut.clear();
        cell = d->viewForTableColumn(this, 0, index);
        for (const auto& handed : std::as_const(m_handedOut)) {
            if (handed && handed != cell)
                recycle(handed);
        }
        m_handedOut.clear();
    }
    if (cell && cell->parentWidget() && cell->parentWidget()->parentWidget() == this
        && cell->parentWidget() != m_cellPool) {
        qCWarning(lcTableView) << "the delegate returned the view of another row; row" << index
                               << "left empty";
        cell = nullptr;
    }
    if (row->cell && row->cell != cell)
        recycle(row->cell);
    row->cell = cell;
    if (cell) {
        cell->setParent(row->container);
        cell->show();
    }
    rebind(row, index);
}

void TableView::rebind(Row* row, int index)
{
    row->needsReload = false;
    if (auto* cell = qobject_cast<TableCellView*>(row->cell.data())) {
        TableViewDataSource* source = dataSource();
        cell->setObjectValue(
            source ? source->objectValueForTableColumn(this, 0, index) : QVariant());
    }
}

void TableView::discard(Row* row)
{
    if (row->animation) {
        row->animation->disconnect(this);
        row->animation->stop();
        row->animation->deleteLater();
        row->animation = nullptr;
    }
    if (row->cell)
        recycle(row->cell);
    row->cell = nullptr;
    // Later, not now: the row may be going away from inside a click on one of its buttons.
    if (row->container) {
        row->container->hide();
        row->container->deleteLater();
        row->container = nullptr;
    }
}

void TableView::recycle(QWidget* cell)
{
    cell->hide();
    const QString identifier = cell->property(kIdentifierProperty).toString();
    if (identifier.isEmpty() || m_reusable.value(identifier).size() >= kReusableLimit) {
        cell->deleteLater();
        return;
    }
    cell->setParent(m_cellPool);
    m_reusable[identifier].append(cell);
}

void TableView::applyUpdates()
{
    if (m_applying)
        return;
    m_applying = true;
    const int expected = dataSourceRowCount();
    m_applying = false;
    if (m_reloadAfterApplying || expected != numberOfRows()) {
        if (!m_reloadAfterApplying)
            qCWarning(lcTableView) << "the table has" << numberOfRows() << "rows, its data source"
                                   << expected << "; reloading";
        m_reloadAfterApplying = false;
        reloadData();
        return;
    }

    m_applying = true;
    int index = 0;
    for (const auto& row : m_rows) {
        if (row->leaving)
            continue;
        if (row->needsContent)
            fetchContent(row.get(), index);
        else if (row->needsReload) {
            row->height = askHeight(index);
            // A row not made yet asks for its value when it is.
            if (row->deferred)
                row->needsReload = false;
            else
                rebind(row.get(), index);
        }
        ++index;
    }
    m_applying = false;
    if (std::exchange(m_reloadAfterApplying, false)) {
        reloadData();
        return;
    }

    // Rows inserted in this batch grow into place now that their heights are known.
    for (const auto& row : m_rows) {
        if (!row->leaving && !row->animation && row->progress < 1.0) {
            const TableViewAnimation animation = row->pendingAnimation;
            animate(row.get(), 1.0, animation, animation == TableViewAnimation::SlideDown);
        }
    }
    layoutRows();
}

void TableView::scheduleReload()
{
    if (m_reloadScheduled)
        return;
    m_reloadScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_reloadScheduled)
                reloadData();
        },
        Qt::QueuedConnection);
}

bool TableView::deferWhileApplying()
{
    // A data source or delegate that changes the table while answering it: the changes cannot
    // be applied halfway through, so the whole table is reloaded once the answers are in.
    if (!m_applying)
        return false;
    m_reloadAfterApplying = true;
    return true;
}

} // namespace Tickerly::AppKit

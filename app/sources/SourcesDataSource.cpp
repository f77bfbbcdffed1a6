#include "app/Namespace.h"
#include "SourcesDataSource.h"

#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/base/NotificationCenter.h"

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;

namespace {

// A non-empty list of integers under `key`; none otherwise.
std::optional<QList<int>> indexes(const QVariantMap& userInfo, const QString& key)
{
    const QVariant value = userInfo.value(key);
    if (value.metaType() == QMetaType::fromType<QList<int>>()) {
        QList<int> list = value.value<QList<int>>();
        if (!list.isEmpty())
            return list;
        return std::nullopt;
    }
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        const QVariantList list = value.toList();
        if (list.isEmpty())
            return std::nullopt;
        QList<int> ints;
        for (const QVariant& entry : list) {
            const int type = entry.metaType().id();
            if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::UInt
                && type != QMetaType::ULongLong)
                return std::nullopt;
            ints << entry.toInt();
        }
        return ints;
    }
    return std::nullopt;
}

std::optional<int> firstIndex(const QVariantMap& userInfo, const QString& key)
{
    const auto list = indexes(userInfo, key);
    return list ? std::optional(list->first()) : std::nullopt;
}

// Whether a row bound to `a` shows what it would show bound to `b`.
bool showsAlike(const std::shared_ptr<Source>& a, const std::shared_ptr<Source>& b)
{
    return a && b && *a == *b && a->noIconFound == b->noIconFound;
}

bool sameSources(const QList<std::shared_ptr<Source>>& a, const QList<std::shared_ptr<Source>>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!a[i] || !b[i] || !(*a[i] == *b[i]))
            return false;
    }
    return true;
}

} // namespace

SourcesDataSourceDelegate::~SourcesDataSourceDelegate() = default;

SourcesDataSource::SourcesDataSource(QObject* parent)
    : QObject(parent)
{
    m_sources = m_sourcesData.sources();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, SourcesData::changeNotification(), nullptr,
        [this](const Notification& n) { sourcesChanged(n); });
    center.addObserver(this, SourceIconData::iconUpdateNotification(), nullptr,
        [this](const Notification& n) { sourceIconChanged(n); });
    m_sourcesData.localStore()->observeReplays(this, [this] { sourcesReplayed(); });
}

void SourcesDataSource::sourcesReplayed()
{
    // In the program that wrote them each change was announced as it landed.
    if (!sameSources(m_sources, m_sourcesData.sources()))
        sourcesChanged(Notification {});
}

SourcesDataSource::~SourcesDataSource() = default;

void SourcesDataSource::attachToTableView(TableView* tableView)
{
    m_tableView = tableView;
    if (!tableView)
        return;
    tableView->setDataSource(this);
    tableView->reloadData();
}

std::shared_ptr<const SourceData> SourcesDataSource::sourceDataFromSource(const Source& source)
{
    const QImage image = SourceIconData::iconForSource(source);
    std::optional<QImage> icon;
    if (!image.isNull())
        icon = image;
    // The outcome of a search could not be stored in a store that keeps nothing: no search is
    // awaited.
    const bool loadingIcon = !icon && !source.noIconFound && sharedDefaults()->isPersistent();
    return std::make_shared<const SourceData>(source.title(), source.link(), icon, loadingIcon);
}

int SourcesDataSource::numberOfRowsInTableView(TableView*) { return numberOfItems(); }

QVariant SourcesDataSource::objectValueForTableColumn(TableView*, int, int row)
{
    // The table may ask while it and the cache are out of step: an empty row, never a read past
    // the end.
    if (row < 0 || row >= m_sources.size() || !m_sources.at(row))
        return {};
    return QVariant::fromValue(sourceDataFromSource(*m_sources.at(row)));
}

void SourcesDataSource::sourcesChanged(const Notification& notification)
{
    const QList<std::shared_ptr<Source>> shown = m_sources;
    m_sources = m_sourcesData.sources();

    const std::optional<int> added
        = firstIndex(notification.userInfo, SourcesData::addedSourcesKey());
    const std::optional<int> removed
        = firstIndex(notification.userInfo, SourcesData::removedSourcesKey());
    const std::optional<QList<int>> updated
        = indexes(notification.userInfo, SourcesData::updatedSourcesKey());

    if (TableView* table = m_tableView) {
        table->beginUpdates();
        if (const auto rebound = rowsToRebind(shown, added, removed, updated)) {
            if (added)
                table->insertRowsAtIndexes({ *added }, TableViewAnimation::SlideDown);
            if (removed)
                table->removeRowsAtIndexes({ *removed }, TableViewAnimation::SlideUp);
            // Only the rows that show something else: the others keep their views as they are.
            if (!rebound->isEmpty())
                table->reloadDataForRowIndexes(*rebound, { 0 });
        } else if (added || removed || updated) {
            // Several changes were stored before this one arrived: the table moves from what
            // it shows to what is stored now, and the notifications still queued find nothing
            // left to move.
            animateDifference(table, shown, updated.value_or(QList<int> {}));
        }
        table->endUpdates();
        if ((!added && !removed && !updated) || table->numberOfRows() != numberOfItems())
            table->reloadData();
    }

    if (SourcesDataSourceDelegate* d = delegate())
        d->sourcesUpdated(this);
}

std::optional<QList<int>> SourcesDataSource::rowsToRebind(
    const QList<std::shared_ptr<Source>>& shown, std::optional<int> added,
    std::optional<int> removed, const std::optional<QList<int>>& updated) const
{
    QList<std::shared_ptr<Source>> stepped = shown;
    if (added) {
        if (*added < 0 || *added > stepped.size() || *added >= m_sources.size())
            return std::nullopt;
        stepped.insert(*added, m_sources.at(*added));
    }
    if (removed) {
        if (*removed < 0 || *removed >= stepped.size())
            return std::nullopt;
        stepped.removeAt(*removed);
    }
    QList<int> rebound;
    for (const int row : updated.value_or(QList<int> {})) {
        if (row < 0 || row >= stepped.size() || row >= m_sources.size())
            return std::nullopt;
        if (!showsAlike(stepped[row], m_sources.at(row)))
            rebound << row;
        stepped[row] = m_sources.at(row);
    }
    if (!sameSources(stepped, m_sources))
        return std::nullopt;
    return rebound;
}

void SourcesDataSource::animateDifference(
    TableView* table, const QList<std::shared_ptr<Source>>& shown, const QList<int>& updated)
{
    const auto same = [](const std::shared_ptr<Source>& a, const std::shared_ptr<Source>& b) {
        return a && b && *a == *b;
    };
    qsizetype head = 0;
    while (head < shown.size() && head < m_sources.size() && same(shown[head], m_sources[head]))
        ++head;
    qsizetype tail = 0;
    while (tail < shown.size() - head && tail < m_sources.size() - head
        && same(shown[shown.size() - 1 - tail], m_sources[m_sources.size() - 1 - tail]))
        ++tail;

    QList<int> leaving;
    for (qsizetype row = head; row < shown.size() - tail; ++row)
        leaving << int(row);
    QList<int> arriving;
    for (qsizetype row = head; row < m_sources.size() - tail; ++row)
        arriving << int(row);
    if (!leaving.isEmpty())
        table->removeRowsAtIndexes(leaving, TableViewAnimation::SlideUp);
    if (!arriving.isEmpty())
        table->insertRowsAtIndexes(arriving, TableViewAnimation::SlideDown);
    QList<int> outside;
    for (const int row : updated) {
        if (row >= 0 && row < m_sources.size() && (row < head || row >= m_sources.size() - tail))
            outside << row;
    }
    if (!outside.isEmpty())
        table->reloadDataForRowIndexes(outside, { 0 });
}

void SourcesDataSource::sourceIconChanged(const Notification& notification)
{
    const QVariant value = notification.userInfo.value(SourceIconData::sourceKey());
    if (!value.canConvert<std::shared_ptr<Source>>())
        return;
    const std::shared_ptr<Source> source = value.value<std::shared_ptr<Source>>();
    if (!source)
        return;
    for (qsizetype row = 0; row < m_sources.size(); ++row) {
        if (m_sources.at(row) && *m_sources.at(row) == *source) {
            if (m_tableView)
                m_tableView->reloadDataForRowIndexes({ int(row) }, { 0 });
            return;
        }
    }
}

} // namespace Tickerly::App

#include "SourcesDataSource.h"

#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

// The first index of a non-empty list of integers under `key`; none otherwise.
std::optional<int> firstIndex(const QVariantMap& userInfo, const QString& key)
{
    const QVariant value = userInfo.value(key);
    if (value.metaType() == QMetaType::fromType<QList<int>>()) {
        const QList<int> list = value.value<QList<int>>();
        if (!list.isEmpty())
            return list.first();
        return std::nullopt;
    }
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        const QVariantList list = value.toList();
        if (list.isEmpty())
            return std::nullopt;
        for (const QVariant& entry : list) {
            const int type = entry.metaType().id();
            if (type != QMetaType::Int && type != QMetaType::LongLong && type != QMetaType::UInt
                && type != QMetaType::ULongLong)
                return std::nullopt;
        }
        return list.first().toInt();
    }
    return std::nullopt;
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
    const std::optional<int> updated
        = firstIndex(notification.userInfo, SourcesData::updatedSourcesKey());

    if (TableView* table = m_tableView) {
        table->beginUpdates();
        if (appliesInStep(shown, added, removed, updated)) {
            if (added)
                table->insertRowsAtIndexes({ *added }, TableViewAnimation::SlideDown);
            if (removed)
                table->removeRowsAtIndexes({ *removed }, TableViewAnimation::SlideUp);
            if (updated)
                table->reloadDataForRowIndexes({ *updated }, { 0 });
        } else if (added || removed || updated) {
            // Several changes were stored before this one arrived: the table moves from what
            // it shows to what is stored now, and the notifications still queued find nothing
            // left to move.
            animateDifference(table, shown, updated);
        }
        table->endUpdates();
        if ((!added && !removed && !updated) || table->numberOfRows() != numberOfItems())
            table->reloadData();
    }

    if (SourcesDataSourceDelegate* d = delegate())
        d->sourcesUpdated(this);
}

bool SourcesDataSource::appliesInStep(const QList<std::shared_ptr<Source>>& shown,
    std::optional<int> added, std::optional<int> removed, std::optional<int> updated) const
{
    QList<std::shared_ptr<Source>> stepped = shown;
    if (added) {
        if (*added < 0 || *added > stepped.size() || *added >= m_sources.size())
            return false;
        stepped.insert(*added, m_sources.at(*added));
    }
    if (removed) {
        if (*removed < 0 || *removed >= stepped.size())
            return false;
        stepped.removeAt(*removed);
    }
    if (updated) {
        if (*updated < 0 || *updated >= stepped.size() || *updated >= m_sources.size())
            return false;
        stepped[*updated] = m_sources.at(*updated);
    }
    return sameSources(stepped, m_sources);
}

void SourcesDataSource::animateDifference(
    TableView* table, const QList<std::shared_ptr<Source>>& shown, std::optional<int> updated)
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
    if (updated && *updated >= 0 && *updated < m_sources.size()
        && (*updated < head || *updated >= m_sources.size() - tail))
        table->reloadDataForRowIndexes({ *updated }, { 0 });
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

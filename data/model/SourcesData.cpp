#include "data/model/SourcesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString sourcesKey = u"velmora.Tickerly.sources"_s;

std::optional<QByteArray> asData(const std::optional<QVariant>& value)
{
    if (!value || value->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value->toByteArray();
}

qsizetype indexOfEqual(const QList<std::shared_ptr<Source>>& list, const Source& source)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (*list[i] == source)
            return i;
    }
    return -1;
}

} // namespace

SourcesData::SourcesData(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
{
}

QString SourcesData::changeNotification()
{
    return u"velmora.Tickerly.SourcesData.changeNotification"_s;
}

QString SourcesData::addedSourcesKey()
{
    return u"velmora.Tickerly.SourcesData.addedSourcesKey"_s;
}

QString SourcesData::removedSourcesKey()
{
    return u"velmora.Tickerly.SourcesData.removedSourcesKey"_s;
}

QString SourcesData::updatedSourcesKey()
{
    return u"velmora.Tickerly.SourcesData.updatedSourcesKey"_s;
}

SourcesData::SourceList SourcesData::sourcesFromData(const std::optional<QByteArray>& data)
{
    Source::registerArchiveClasses();
    return archivedList<Source>(data, u"source"_s);
}

SourcesData::SourceList SourcesData::sources() const
{
    return sourcesFromData(m_localStore->data(sourcesKey));
}

bool SourcesData::changeSources(const std::function<bool(SourceList&)>& change)
{
    bool write = false;
    const bool stored = m_localStore->update(sourcesKey, [&](const std::optional<QVariant>& current) -> std::optional<QVariant> {
        SourceList list = sourcesFromData(asData(current));
        write = change(list);
        if (!write)
            return std::nullopt;
        return QVariant(KeyedArchiver::archivedDataWithRootObjects(list));
    });
    m_localStore->synchronize();
    return stored && write;
}

void SourcesData::setSources(const SourceList& sources)
{
    m_localStore->set(sourcesKey, KeyedArchiver::archivedDataWithRootObjects(sources));
    m_localStore->synchronize();
}

void SourcesData::addSource(const std::shared_ptr<Source>& source)
{
    if (!source)
        return;
    int added = -1;
    const bool stored = changeSources([&](SourceList& list) {
        if (indexOfEqual(list, *source) >= 0)
            return false;
        list.append(source);
        added = int(indexOfEqual(list, *source));
        return true;
    });
    if (stored && added >= 0)
        sendDataChangeNotification(QList<int> { added });
}

void SourcesData::removeSource(const Source& source)
{
    int removed = -1;
    const bool stored = changeSources([&](SourceList& list) {
        const qsizetype i = indexOfEqual(list, source);
        if (i < 0)
            return false;
        list.removeAt(i);
        removed = int(i);
        return true;
    });
    if (stored && removed >= 0)
        sendDataChangeNotification(std::nullopt, QList<int> { removed });
}

void SourcesData::updateSource(const std::shared_ptr<Source>& source)
{
    if (!source)
        return;
    int updated = -1;
    const bool stored = changeSources([&](SourceList& list) {
        for (auto& entry : list) {
            if (entry->link() == source->link())
                entry = source;
        }
        updated = int(indexOfEqual(list, *source));
        // Written back even when no link matched.
        return true;
    });
    if (stored && updated >= 0)
        sendDataChangeNotification(std::nullopt, std::nullopt, QList<int> { updated });
}

void SourcesData::resetSources()
{
    setSources({});
    sendDataChangeNotification();
}

void SourcesData::updateLocalStore()
{
    m_localStore->synchronize();
}

bool SourcesData::isSourceAdded(const Source& source) const
{
    return indexOfEqual(sources(), source) >= 0;
}

void SourcesData::sendDataChangeNotification(std::optional<QList<int>> added, std::optional<QList<int>> removed,
                                             std::optional<QList<int>> updated)
{
    const void* sender = this;
    MainQueue::dispatchAsync([sender, added, removed, updated] {
        QVariantMap userInfo;
        if (removed)
            userInfo.insert(removedSourcesKey(), QVariant::fromValue(*removed));
        if (added)
            userInfo.insert(addedSourcesKey(), QVariant::fromValue(*added));
        if (updated)
            userInfo.insert(updatedSourcesKey(), QVariant::fromValue(*updated));
        NotificationCenter::defaultCenter().post(changeNotification(), sender, userInfo);
    });
}

#include "data/model/SourcesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Url.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString sourcesKey = u"velmora.Tickerly.sources"_s;

qsizetype indexOfEqual(const QList<std::shared_ptr<Source>>& list, const Source& source)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (*list[i] == source)
            return i;
    }
    return -1;
}

// One feed reached by addresses that differ only as a browser ignores ("HTTP://", ":80", "#top")
// is one source.
qsizetype indexOfLink(const QList<std::shared_ptr<Source>>& list, const QString& link)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (Url::namesSameResource(list[i]->link(), link))
            return i;
    }
    return -1;
}

// What a change stores of `source`, its own: a kept change runs on whichever thread next takes
// the store, while the caller's object may be changed on its own thread.
std::shared_ptr<Source> detached(const Source& source)
{
    auto copy = std::make_shared<Source>(source.title(), source.link());
    copy->sourceLink = source.sourceLink;
    copy->noIconFound = source.noIconFound;
    return copy;
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

UserDefaults::Outcome SourcesData::changeSources(
    std::function<std::optional<int>(SourceList&)> change, std::function<void(int)> announce)
{
    // Shared with a kept change, which may run after this object is gone.
    auto position = std::make_shared<std::optional<int>>();
    const QString suite = m_localStore->suiteName();
    const auto outcome = m_localStore->updateOrKeep(sourcesKey,
        [suite, change = std::move(change), position](const std::optional<QVariant>& current) -> std::optional<QVariant> {
            Source::registerArchiveClasses();
            SourceList list = archivedListForChange<Source>(suite, sourcesKey, current, u"source"_s);
            *position = change(list);
            if (!*position)
                return std::nullopt;
            return QVariant(KeyedArchiver::archivedDataWithRootObjects(list));
        },
        [position, announce](bool written) {
            if (written && *position)
                announce(**position);
        });
    m_localStore->synchronize();
    if (outcome == UserDefaults::Outcome::Done && *position)
        announce(**position);
    return outcome;
}

void SourcesData::setSources(const SourceList& sources)
{
    m_localStore->set(sourcesKey, KeyedArchiver::archivedDataWithRootObjects(sources));
    m_localStore->synchronize();
}

UserDefaults::Outcome SourcesData::addSource(const std::shared_ptr<Source>& given)
{
    if (!given)
        return UserDefaults::Outcome::Done;
    return changeSources([source = detached(*given)](SourceList& list) -> std::optional<int> {
        if (indexOfLink(list, source->link()) >= 0)
            return std::nullopt;
        list.append(source);
        return int(list.size() - 1);
    }, [sender = identity()](int added) { sendDataChangeNotification(sender, QList<int> { added }); });
}

UserDefaults::Outcome SourcesData::removeSource(const Source& given)
{
    return changeSources([source = *detached(given)](SourceList& list) -> std::optional<int> {
        const qsizetype i = indexOfEqual(list, source);
        if (i < 0)
            return std::nullopt;
        list.removeAt(i);
        return int(i);
    }, [sender = identity()](int removed) {
        sendDataChangeNotification(sender, std::nullopt, QList<int> { removed });
    });
}

UserDefaults::Outcome SourcesData::updateSource(const std::shared_ptr<Source>& given)
{
    if (!given)
        return UserDefaults::Outcome::Done;
    return changeSources([source = detached(*given)](SourceList& list) -> std::optional<int> {
        for (auto& entry : list) {
            if (entry->link() == source->link())
                entry = source;
        }
        // Written back even when no link matched (-1 still writes); announced only when it is there.
        return int(indexOfEqual(list, *source));
    }, [sender = identity()](int updated) {
        if (updated >= 0)
            sendDataChangeNotification(sender, std::nullopt, std::nullopt, QList<int> { updated });
    });
}

void SourcesData::resetSources()
{
    setSources({});
    sendDataChangeNotification(identity());
}

void SourcesData::updateLocalStore()
{
    m_localStore->synchronize();
}

bool SourcesData::isSourceAdded(const Source& source) const
{
    return indexOfEqual(sources(), source) >= 0;
}

std::shared_ptr<Source> SourcesData::sourceWithLink(const QString& link) const
{
    const SourceList list = sources();
    const qsizetype i = indexOfLink(list, link);
    return i < 0 ? nullptr : list[i];
}

void SourcesData::sendDataChangeNotification(const void* sender, std::optional<QList<int>> added,
    std::optional<QList<int>> removed, std::optional<QList<int>> updated)
{
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

#pragma once

// The machinery shared by the two per-story state lists (StoryStateData, ArchivedStoriesData):
// reading the stored list, the link cache, one atomic change of the stored list and its replay,
// and the registration of a list and its record class.

#include "data/Namespace.h"
#include "data/model/ArchivedList_p.h"
#include "data/model/KeptKind.h"
#include "data/model/PendingStates_p.h"
#include "data/model/Shared.h"
#include "data/model/StateList.h"
#include "data/model/StoryState.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace Tickerly::Data {

namespace StateLists {

// Named once here, since nearly every function below uses them.
using Foundation::KeyedArchiver;
using Foundation::Url;
using Foundation::UserDefaults;

// The longest a state list grows; past it the record set longest ago goes.
inline constexpr qsizetype maxStoredStates = 500;

// Link (absolute string) to state, later records overwriting earlier ones.
template <typename Record, typename LinkOf>
QHash<QString, StoryState> linkStates(
    const std::optional<QList<std::shared_ptr<Record>>>& records, LinkOf linkOf)
{
    QHash<QString, StoryState> map;
    if (!records)
        return map;
    for (const auto& record : *records) {
        if (const std::optional<Url> link = linkOf(*record))
            map.insert(link->absoluteString(), record->state);
    }
    return map;
}

// The first record whose link is `link`, or null.
template <typename Record, typename LinkOf>
std::shared_ptr<Record> recordForLink(
    const QList<std::shared_ptr<Record>>& records, const QString& link, LinkOf linkOf)
{
    for (const auto& record : records) {
        const std::optional<Url> recordLink = linkOf(*record);
        if (recordLink && recordLink->absoluteString() == link)
            return record;
    }
    return nullptr;
}

// The change setState makes of the stored list: the record of `link` (encoded) moved to the front,
// or removed when there is none, and the list cut to its cap.
template <typename Record, typename LinkOf>
UserDefaults::Updater stateUpdater(const QString& suite, const QString& key,
    const std::optional<Url>& link, const std::optional<QByteArray>& encodedRecord, LinkOf linkOf)
{
    return [suite, key, link, encodedRecord, linkOf](
               const std::optional<QVariant>& current) -> std::optional<QVariant> {
        QList<std::shared_ptr<Record>> list
            = archivedListForChange<Record>(suite, key, current, QStringLiteral("state record"));
        if (link) {
            if (const auto old = recordForLink(list, link->absoluteString(), linkOf))
                list.removeOne(old);
        }
        QList<QByteArray> encoded;
        encoded.reserve(list.size() + 1);
        if (encodedRecord)
            encoded.append(*encodedRecord);
        for (const auto& record : list) {
            if (encoded.size() >= maxStoredStates)
                break;
            encoded.append(KeyedArchiver::encodedObject(*record));
        }
        return QVariant(KeyedArchiver::archivedDataWithEncodedRootArray(encoded));
    };
}

// The name under which a kept setState of the list under `key` is journalled.
inline QString replayKind(const QString& key) { return QStringLiteral("state of ") + key; }

// What a setState changes: the record of `link` (none: a change without a link) and the record
// put in its place, encoded (none: removed).
struct StateChange {
    std::optional<Url> link;
    std::optional<QByteArray> record;
};

inline QVariant journalledState(const StateChange& change)
{
    QVariantMap arguments;
    if (change.link)
        arguments.insert(QStringLiteral("link"), change.link->absoluteString());
    if (change.record)
        arguments.insert(QStringLiteral("record"), *change.record);
    return QVariant(arguments);
}

// A setState as a journal holds it; the record must read back as one record, being stored whole
// into the list. `registerClasses` makes `Record` readable.
template <typename Record>
std::optional<StateChange> stateFromJournal(const QVariant& arguments, void (*registerClasses)())
{
    if (arguments.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = arguments.toMap();
    StateChange change;
    if (map.contains(QStringLiteral("link"))) {
        const QVariant text = map.value(QStringLiteral("link"));
        if (text.typeId() != QMetaType::QString)
            return std::nullopt;
        change.link = Url::fromString(text.toString());
        if (!change.link)
            return std::nullopt;
    }
    if (map.contains(QStringLiteral("record"))) {
        const QVariant bytes = map.value(QStringLiteral("record"));
        if (bytes.typeId() != QMetaType::QByteArray)
            return std::nullopt;
        registerClasses();
        if (archivedList<Record>(
                KeyedArchiver::archivedDataWithEncodedRootArray({ bytes.toByteArray() }),
                QStringLiteral("state record"))
                .size()
            != 1)
            return std::nullopt;
        change.record = bytes.toByteArray();
    }
    return change;
}

// A setState of `list`, made now and made again from a journal alike.
template <typename Record>
KeptKind<StateChange, UserDefaults::Updater> stateKind(const StoredList<Record>& list)
{
    return { replayKind(list.key),
        [key = list.key](const QString& stored) { return stored == key; }, journalledState,
        [registerClasses = list.registerClasses](const QVariant& arguments) {
            return stateFromJournal<Record>(arguments, registerClasses);
        },
        [list](const QString& suite, const StateChange& change) {
            return stateUpdater<Record>(suite, list.key, change.link, change.record, list.linkOf);
        } };
}

// `list`, once a setState of it that another run kept when it ended can be made again from its
// journal, announced (keptStateNotification) once written. For the initialiser of the list's
// definition, as its library loads.
template <typename Record> StoredList<Record> registeredList(StoredList<Record> list)
{
    stateKind(list).registerReplayer([key = list.key](const QString& suite,
                                         const StateChange& change, UserDefaults::Updater update) {
        const QString linkText = change.link ? change.link->absoluteString() : QString();
        return UserDefaults::Replayed { std::move(update), {}, {},
            [suite, key, linkText](bool written) {
                if (written && !linkText.isEmpty())
                    endPending(suite, key, linkText, 0, NoteEnd::AnnounceWritten);
            } };
    });
    return list;
}

// Makes records of `Record` readable under `className`, once a process.
template <typename Record> void registerRecordClass(const QString& className)
{
    static std::once_flag once;
    std::call_once(once, [&className] {
        Foundation::KeyedUnarchiver::registerClass(className,
            [](const Foundation::KeyedUnarchiver& coder) -> std::shared_ptr<Foundation::Coding> {
                return Record::initWithCoder(coder);
            });
    });
}

// Sets the state of `link` in `list`, as one transaction of the store that reads the list
// afresh, so a state set meanwhile by another object or process is kept. The record of the link
// moves to the front (`newRecord` null removes it), and the list is cut to its cap. Written (and
// synchronised) on every call; while another process keeps the store locked the change is kept
// and written later; till then this process reads the state as set, and once it is written or
// refused keptStateNotification says so. The new record is archived here, on the caller's
// thread: a kept change runs on whichever thread next takes the store, while the caller's objects
// (a record holds the window's story) may change on.
template <typename Record>
UserDefaults::Outcome setState(UserDefaults& store, const StoredList<Record>& list,
    const std::optional<Url>& link, const std::shared_ptr<Record>& newRecord)
{
    const QString suite = store.suiteName();
    const QString& key = list.key;
    const StateChange change { link,
        newRecord ? std::optional(KeyedArchiver::encodedObject(*newRecord)) : std::nullopt };
    // Noted before the change may be kept: it may be written, and its note ended, on another
    // thread before updateOrKeep returns.
    const QString linkText = link ? link->absoluteString() : QString();
    const quint64 note = link
        ? notePending(suite, key, linkText, newRecord ? newRecord->state : StoryState::None)
        : 0;
    const auto kind = stateKind(list);
    const auto outcome = store.updateOrKeep(
        key, kind.change(suite, change),
        [suite, key, linkText, note](bool written) {
            if (note)
                endPending(suite, key, linkText, note,
                    written ? NoteEnd::AnnounceWritten : NoteEnd::AnnounceRefused);
        },
        kind.replay(change));
    store.synchronize();
    if (note && !UserDefaults::isKept(outcome))
        endPending(suite, key, linkText, note, NoteEnd::Quiet);
    return outcome;
}

template <typename Record>
UserDefaults::Outcome StateList<Record>::setState(
    const std::optional<Url>& link, const std::shared_ptr<Record>& record)
{
    const auto stored = StateLists::setState(*m_localStore, m_list, link, record);
    flush();
    return stored;
}

template <typename Record> StoryState StateList<Record>::stateForLink(const QString& link)
{
    if (const auto pending = pendingState(m_localStore->suiteName(), m_list.key, link))
        return *pending;
    if (m_linkStateCache) {
        const auto it = m_linkStateCache->constFind(link);
        if (it != m_linkStateCache->constEnd())
            return *it;
    }
    const auto record = recordForLink(records(), link, m_list.linkOf);
    return record ? record->state : StoryState::None;
}

template <typename Record> const typename StateList<Record>::Records& StateList<Record>::records()
{
    if (!m_cachedData)
        setCachedData(archivedList<Record>(
            archivedBytes(m_localStore->value(m_list.key)), QStringLiteral("state record")));
    return *m_cachedData;
}

template <typename Record> void StateList<Record>::flush() { setCachedData(std::nullopt); }

template <typename Record> void StateList<Record>::setCachedData(std::optional<Records> data)
{
    m_cachedData = std::move(data);
    m_linkStateCache = linkStates(m_cachedData, m_list.linkOf);
}

} // namespace StateLists

} // namespace Tickerly::Data

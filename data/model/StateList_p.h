#pragma once

// The machinery shared by the two per-story state lists (StoryStateData, ArchivedStoriesData):
// reading the stored list, the link cache, and one atomic change of the stored list.

#include "data/Namespace.h"
#include "data/model/ArchivedList_p.h"
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

// Lets a setState of the list under `key` that another run kept when it ended be made again from
// its journal, announced (keptStateNotification) once written. `registerClasses` makes `Record`
// readable.
template <typename Record, typename LinkOf>
bool registerReplayer(const QString& key, LinkOf linkOf, void (*registerClasses)())
{
    UserDefaults::registerReplayer(replayKind(key),
        [key, linkOf, registerClasses](const QString& suite, const QString& storedKey,
            const QVariant& arguments) -> std::optional<UserDefaults::Replayed> {
            if (storedKey != key || arguments.typeId() != QMetaType::QVariantMap)
                return std::nullopt;
            const QVariantMap map = arguments.toMap();
            std::optional<Url> link;
            if (map.contains(QStringLiteral("link"))) {
                const QVariant text = map.value(QStringLiteral("link"));
                if (text.typeId() != QMetaType::QString)
                    return std::nullopt;
                link = Url::fromString(text.toString());
                if (!link)
                    return std::nullopt;
            }
            std::optional<QByteArray> record;
            if (map.contains(QStringLiteral("record"))) {
                const QVariant bytes = map.value(QStringLiteral("record"));
                if (bytes.typeId() != QMetaType::QByteArray)
                    return std::nullopt;
                // Stored whole into the list: it must read back as one record.
                registerClasses();
                if (archivedList<Record>(
                        KeyedArchiver::archivedDataWithEncodedRootArray({ bytes.toByteArray() }),
                        QStringLiteral("state record"))
                        .size()
                    != 1)
                    return std::nullopt;
                record = bytes.toByteArray();
            }
            const QString linkText = link ? link->absoluteString() : QString();
            return UserDefaults::Replayed { stateUpdater<Record>(suite, key, link, record, linkOf),
                {}, {}, [suite, key, linkText](bool written) {
                    if (written && !linkText.isEmpty())
                        endPending(suite, key, linkText, 0, NoteEnd::AnnounceWritten);
                } };
        });
    return true;
}

// Sets the state of `link` in the list stored under `key`, as one transaction of the store that
// reads the list afresh, so a state set meanwhile by another object or process is kept. The
// record of the link moves to the front (`newRecord` null removes it), and the list is cut to
// its cap. Written (and synchronised) on every call; while another process keeps the store
// locked the change is kept and written later; till then this process reads the state as set, and
// once it is written or refused keptStateNotification says so. The new record is archived here,
// on the caller's thread: a kept change runs on whichever thread next takes the store, while the
// caller's objects (a record holds the window's story) may change on.
template <typename Record, typename LinkOf>
UserDefaults::Outcome setState(UserDefaults& store, const QString& key,
    const std::optional<Url>& link, const std::shared_ptr<Record>& newRecord, LinkOf linkOf)
{
    const QString suite = store.suiteName();
    const std::optional<QByteArray> encodedRecord
        = newRecord ? std::optional(KeyedArchiver::encodedObject(*newRecord)) : std::nullopt;
    // Noted before the change may be kept: it may be written, and its note ended, on another
    // thread before updateOrKeep returns.
    const QString linkText = link ? link->absoluteString() : QString();
    const quint64 note = link
        ? notePending(suite, key, linkText, newRecord ? newRecord->state : StoryState::None)
        : 0;
    const auto outcome
        = store.updateOrKeep(key, stateUpdater<Record>(suite, key, link, encodedRecord, linkOf),
            [suite, key, linkText, note](bool written) {
                if (note)
                    endPending(suite, key, linkText, note,
                        written ? NoteEnd::AnnounceWritten : NoteEnd::AnnounceRefused);
            },
            { replayKind(key), [link, encodedRecord] {
                 QVariantMap arguments;
                 if (link)
                     arguments.insert(QStringLiteral("link"), link->absoluteString());
                 if (encodedRecord)
                     arguments.insert(QStringLiteral("record"), *encodedRecord);
                 return QVariant(arguments);
             } });
    store.synchronize();
    if (note && !UserDefaults::isKept(outcome))
        endPending(suite, key, linkText, note, NoteEnd::Quiet);
    return outcome;
}

template <typename Record>
UserDefaults::Outcome StateList<Record>::setState(
    const std::optional<Url>& link, const std::shared_ptr<Record>& record)
{
    const auto stored = StateLists::setState(*m_localStore, m_key, link, record, m_linkOf);
    flush();
    return stored;
}

template <typename Record> StoryState StateList<Record>::stateForLink(const QString& link)
{
    if (const auto pending = pendingState(m_localStore->suiteName(), m_key, link))
        return *pending;
    if (m_linkStateCache) {
        const auto it = m_linkStateCache->constFind(link);
        if (it != m_linkStateCache->constEnd())
            return *it;
    }
    const auto record = recordForLink(records(), link, m_linkOf);
    return record ? record->state : StoryState::None;
}

template <typename Record> const typename StateList<Record>::Records& StateList<Record>::records()
{
    if (!m_cachedData)
        setCachedData(archivedList<Record>(
            archivedBytes(m_localStore->value(m_key)), QStringLiteral("state record")));
    return *m_cachedData;
}

template <typename Record> void StateList<Record>::flush() { setCachedData(std::nullopt); }

template <typename Record> void StateList<Record>::setCachedData(std::optional<Records> data)
{
    m_cachedData = std::move(data);
    m_linkStateCache = linkStates(m_cachedData, m_linkOf);
}

} // namespace StateLists

} // namespace Tickerly::Data

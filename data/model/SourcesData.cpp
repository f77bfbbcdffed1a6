#include "data/model/SourcesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/KeptKind.h"
#include "data/model/Shared.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/base/Url.h"

#include <QHash>
#include <QSet>

#include <atomic>
#include <map>
#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
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

// A source as reading its archive gives it: what is archived, no more.
std::shared_ptr<Source> asStored(const Source& source)
{
    auto copy = std::make_shared<Source>(source.title(), source.link());
    copy->noIconFound = source.noIconFound;
    return copy;
}

QList<std::shared_ptr<Source>> asStored(const QList<std::shared_ptr<Source>>& list)
{
    QList<std::shared_ptr<Source>> copies;
    copies.reserve(list.size());
    for (const auto& entry : list)
        copies.append(asStored(*entry));
    return copies;
}

// The list this process last wrote in each suite, beside its archive. Every change is announced
// and every view that hears of it reads the list again, as does the next change: while the
// stored bytes are still these, they are not decoded again but copied from here (copies the
// caller may change). Only lists this process archived are kept, so what it reads of any other
// writer's bytes, damaged ones above all, is decoded as it always was.
struct WrittenList {
    QByteArray bytes;
    QList<std::shared_ptr<Source>> list;
};

struct WrittenLists {
    std::mutex mutex;
    QHash<QString, WrittenList> bySuite;
};

WrittenLists& writtenLists()
{
    // Never destroyed, as every list below: a worker may still reach it while the process ends.
    static auto& written = *new WrittenLists;
    return written;
}

void rememberWritten(
    const QString& suite, const QByteArray& bytes, const QList<std::shared_ptr<Source>>& list)
{
    auto& written = writtenLists();
    // A null entry is archived as one and reads back as damage: such a list is decoded.
    if (list.contains(nullptr)) {
        std::lock_guard lock(written.mutex);
        written.bySuite.remove(suite);
        return;
    }
    WrittenList entry { bytes, asStored(list) };
    std::lock_guard lock(written.mutex);
    written.bySuite.insert(suite, std::move(entry));
}

std::optional<QList<std::shared_ptr<Source>>> recallWritten(
    const QString& suite, const std::optional<QByteArray>& bytes)
{
    if (!bytes)
        return std::nullopt;
    WrittenList entry;
    {
        auto& written = writtenLists();
        std::lock_guard lock(written.mutex);
        const auto it = written.bySuite.constFind(suite);
        if (it == written.bySuite.cend())
            return std::nullopt;
        entry = *it;
    }
    if (entry.bytes != *bytes)
        return std::nullopt;
    return asStored(entry.list);
}

// The changes of this process kept for later, by suite, oldest first. What this process reads of
// the list shows them at once, as they will be stored; each goes once it is written or refused.
using SourceChange = std::function<std::optional<QList<int>>(QList<std::shared_ptr<Source>>&)>;

struct PendingChange {
    quint64 id;
    SourceChange change;
};

struct PendingChanges {
    std::mutex mutex;
    QHash<QString, QList<PendingChange>> bySuite;
    std::atomic<quint64> lastId { 0 };
};

PendingChanges& pendingChanges()
{
    static auto& pending = *new PendingChanges;
    return pending;
}

quint64 addPending(const QString& suite, SourceChange change)
{
    auto& pending = pendingChanges();
    const quint64 id = ++pending.lastId;
    std::lock_guard lock(pending.mutex);
    pending.bySuite[suite].append({ id, std::move(change) });
    return id;
}

void forgetPending(const QString& suite, quint64 id)
{
    auto& pending = pendingChanges();
    std::lock_guard lock(pending.mutex);
    const auto it = pending.bySuite.find(suite);
    if (it == pending.bySuite.end())
        return;
    it->removeIf([id](const PendingChange& p) { return p.id == id; });
    if (it->isEmpty())
        pending.bySuite.erase(it);
}

// The pending changes of `suite` older than `before` (all when 0).
QList<PendingChange> pendingOf(const QString& suite, quint64 before = 0)
{
    auto& pending = pendingChanges();
    std::lock_guard lock(pending.mutex);
    QList<PendingChange> older = pending.bySuite.value(suite);
    if (before)
        older.removeIf([before](const PendingChange& p) { return p.id >= before; });
    return older;
}

SourceChange addChange(std::shared_ptr<Source> source)
{
    return [source = std::move(source)](
               QList<std::shared_ptr<Source>>& list) -> std::optional<QList<int>> {
        if (indexOfLink(list, source->link()) >= 0)
            return std::nullopt;
        list.append(source);
        return QList<int> { int(list.size() - 1) };
    };
}

SourceChange removeChange(Source source)
{
    return [source = std::move(source)](
               QList<std::shared_ptr<Source>>& list) -> std::optional<QList<int>> {
        const qsizetype i = indexOfEqual(list, source);
        if (i < 0)
            return std::nullopt;
        list.removeAt(i);
        return QList<int> { int(i) };
    };
}

SourceChange updateChange(std::shared_ptr<Source> source)
{
    return [source = std::move(source)](
               QList<std::shared_ptr<Source>>& list) -> std::optional<QList<int>> {
        for (auto& entry : list) {
            if (entry->link() == source->link())
                entry = source;
        }
        // Written back even when no link matched (-1 still writes); announced only when it is
        // there.
        return QList<int> { int(indexOfEqual(list, *source)) };
    };
}

SourceChange markChange(const QStringList& links)
{
    return [links = QSet<QString>(links.begin(), links.end())](
               QList<std::shared_ptr<Source>>& list) -> std::optional<QList<int>> {
        QList<int> marked;
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (!list[i]->noIconFound && links.contains(list[i]->link())) {
                list[i]->noIconFound = true;
                marked << int(i);
            }
        }
        if (marked.isEmpty())
            return std::nullopt;
        return marked;
    };
}

bool isSourcesKey(const QString& key) { return key == sourcesKey; }

// A source as a journal holds it: an archive of the one source.
QVariant archivedSource(const std::shared_ptr<Source>& source)
{
    return KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<Source>> { source });
}

std::optional<std::shared_ptr<Source>> sourceFromArguments(const QVariant& arguments)
{
    if (arguments.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    Source::registerArchiveClasses();
    const auto list = archivedList<Source>(arguments.toByteArray(), u"source"_s);
    if (list.size() != 1 || !list.first())
        return std::nullopt;
    return list.first();
}

std::optional<QStringList> linksFromArguments(const QVariant& arguments)
{
    if (arguments.typeId() != QMetaType::QStringList
        && arguments.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList links;
    for (const QVariant& link : arguments.toList()) {
        if (link.typeId() != QMetaType::QString)
            return std::nullopt;
        links.append(link.toString());
    }
    return links;
}

// The changes a person makes to the list, each named, so that one kept when this process ends is
// made alike from its journal at the next opening of the store.
using SourceKind = KeptKind<std::shared_ptr<Source>, SourceChange>;

const SourceKind addKind { u"sources.add"_s, isSourcesKey, archivedSource, sourceFromArguments,
    [](const QString&, const std::shared_ptr<Source>& source) { return addChange(source); } };
const SourceKind removeKind { u"sources.remove"_s, isSourcesKey, archivedSource,
    sourceFromArguments,
    [](const QString&, const std::shared_ptr<Source>& source) { return removeChange(*source); } };
const SourceKind updateKind { u"sources.update"_s, isSourcesKey, archivedSource,
    sourceFromArguments,
    [](const QString&, const std::shared_ptr<Source>& source) { return updateChange(source); } };
const KeptKind<QStringList, SourceChange> markKind { u"sources.mark-without-icon"_s, isSourcesKey,
    [](const QStringList& links) { return QVariant(links); }, linksFromArguments,
    [](const QString&, const QStringList& links) { return markChange(links); } };

// `list` as the pending changes will leave it. The changes are idempotent, so one written
// between the read of the list and the end of its pending entry counts once.
void applyPending(const QList<PendingChange>& pending, QList<std::shared_ptr<Source>>& list)
{
    if (pending.isEmpty())
        return;
    for (const PendingChange& p : pending)
        p.change(list);
    // A pending change holds its own objects: the caller gets copies it may change.
    for (auto& entry : list)
        entry = detached(*entry);
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

QString SourcesData::addedSourcesKey() { return u"velmora.Tickerly.SourcesData.addedSourcesKey"_s; }

QString SourcesData::removedSourcesKey()
{
    return u"velmora.Tickerly.SourcesData.removedSourcesKey"_s;
}

QString SourcesData::updatedSourcesKey()
{
    return u"velmora.Tickerly.SourcesData.updatedSourcesKey"_s;
}

QString SourcesData::refusedChangeKey()
{
    return u"velmora.Tickerly.SourcesData.refusedChangeKey"_s;
}

SourcesData::SourceList SourcesData::sourcesFromData(
    const QString& suite, const std::optional<QByteArray>& data)
{
    if (auto written = recallWritten(suite, data))
        return std::move(*written);
    Source::registerArchiveClasses();
    return archivedList<Source>(data, u"source"_s);
}

SourcesData::SourceList SourcesData::sources() const
{
    // Taken before the list is read: a change written in between is then seen twice, never not
    // at all.
    const QList<PendingChange> pending = pendingOf(m_localStore->suiteName());
    SourceList list = sourcesFromData(m_localStore->suiteName(), m_localStore->data(sourcesKey));
    applyPending(pending, list);
    return list;
}

// The stored list as a change holds it: decoded once for a run of kept changes, however long.
// One form a suite, since a run is a run of changes of one form.
std::shared_ptr<const UserDefaults::Form> SourcesData::listForm(const QString& suite)
{
    struct Forms {
        std::mutex mutex;
        std::map<QString, std::shared_ptr<const UserDefaults::Form>> bySuite;
    };
    static auto& forms = *new Forms;
    std::lock_guard lock(forms.mutex);
    auto& made = forms.bySuite[suite];
    if (made)
        return made;
    auto form = std::make_shared<UserDefaults::Form>();
    form->decode = [suite](const std::optional<QVariant>& current) {
        if (auto written = recallWritten(suite, archivedBytes(current)))
            return std::any(std::move(*written));
        Source::registerArchiveClasses();
        return std::any(archivedListForChange<Source>(suite, sourcesKey, current, u"source"_s));
    };
    form->encode = [suite](const std::any& held) {
        const auto& list = std::any_cast<const SourceList&>(held);
        QByteArray bytes = KeyedArchiver::archivedDataWithRootObjects(list);
        rememberWritten(suite, bytes, list);
        return QVariant(std::move(bytes));
    };
    made = std::move(form);
    return made;
}

bool SourcesData::registerReplayers()
{
    const auto replayed = [](const QString& suite, const auto&, SourceChange change) {
        return UserDefaults::Replayed { {}, listForm(suite),
            [change = std::move(change)](
                std::any& held) { return change(std::any_cast<SourceList&>(held)).has_value(); },
            [](bool written) {
                if (written)
                    sendDataChangeNotification(nullptr);
            } };
    };
    addKind.registerReplayer(replayed);
    updateKind.registerReplayer(replayed);
    removeKind.registerReplayer(replayed);
    markKind.registerReplayer(replayed);
    return true;
}

const bool SourcesData::s_replayersRegistered = SourcesData::registerReplayers();

UserDefaults::Outcome SourcesData::changeSources(
    std::function<std::optional<QList<int>>(SourceList&)> change,
    std::function<void(const QList<int>&)> announce, UserDefaults::Replay replay)
{
    // Shared with a kept change, which may run after this object is gone.
    auto positions = std::make_shared<std::optional<QList<int>>>();
    const QString suite = m_localStore->suiteName();
    // In place before the change may be kept: it may be written, and forgotten, on another
    // thread before updateOrKeep returns.
    const quint64 id = addPending(suite, change);
    const auto outcome = m_localStore->updateOrKeep(
        sourcesKey, listForm(suite),
        [change, positions](std::any& held) {
            *positions = change(std::any_cast<SourceList&>(held));
            return positions->has_value();
        },
        [suite, id, positions, announce, sender = identity()](bool written) {
            forgetPending(suite, id);
            // The views showed the change since it was kept: they learn what is stored now,
            // or that it is undone.
            if (!written)
                sendDataChangeNotification(
                    sender, std::nullopt, std::nullopt, std::nullopt, Change::Refused);
            else if (*positions)
                announce(**positions);
            else
                sendDataChangeNotification(sender);
        },
        std::move(replay));
    m_localStore->synchronize();
    if (!UserDefaults::isKept(outcome)) {
        forgetPending(suite, id);
        if (outcome == UserDefaults::Outcome::Done && *positions)
            announce(**positions);
        return outcome;
    }
    // Shown at once, where it will land among the changes kept before it.
    SourceList shown = sourcesFromData(suite, m_localStore->data(sourcesKey));
    applyPending(pendingOf(suite, id), shown);
    if (const auto at = change(shown))
        announce(*at);
    return outcome;
}

UserDefaults::Outcome SourcesData::setSources(const SourceList& sources)
{
    const UserDefaults::Outcome outcome
        = m_localStore->set(sourcesKey, KeyedArchiver::archivedDataWithRootObjects(sources));
    m_localStore->synchronize();
    return outcome;
}

UserDefaults::Outcome SourcesData::addSource(const std::shared_ptr<Source>& given)
{
    if (!given)
        return UserDefaults::Outcome::Done;
    const auto source = detached(*given);
    return changeSources(
        addKind.change(m_localStore->suiteName(), source),
        [sender = identity()](
            const QList<int>& added) { sendDataChangeNotification(sender, added); },
        addKind.replay(source));
}

UserDefaults::Outcome SourcesData::removeSource(const Source& given)
{
    const auto source = detached(given);
    return changeSources(
        removeKind.change(m_localStore->suiteName(), source),
        [sender = identity()](const QList<int>& removed) {
            sendDataChangeNotification(sender, std::nullopt, removed);
        },
        removeKind.replay(source));
}

UserDefaults::Outcome SourcesData::updateSource(const std::shared_ptr<Source>& given)
{
    if (!given)
        return UserDefaults::Outcome::Done;
    const auto source = detached(*given);
    return changeSources(
        updateKind.change(m_localStore->suiteName(), source),
        [sender = identity()](const QList<int>& updated) {
            if (updated.first() >= 0)
                sendDataChangeNotification(sender, std::nullopt, std::nullopt, updated);
        },
        updateKind.replay(source));
}

UserDefaults::Outcome SourcesData::markSourcesWithoutIcon(const QStringList& links)
{
    if (links.isEmpty())
        return UserDefaults::Outcome::Done;
    return changeSources(
        markKind.change(m_localStore->suiteName(), links),
        [sender = identity()](const QList<int>& marked) {
            sendDataChangeNotification(sender, std::nullopt, std::nullopt, marked);
        },
        markKind.replay(links));
}

UserDefaults::Outcome SourcesData::resetSources()
{
    const UserDefaults::Outcome outcome = setSources({});
    sendDataChangeNotification(identity());
    return outcome;
}

void SourcesData::updateLocalStore() { m_localStore->synchronize(); }

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
    std::optional<QList<int>> removed, std::optional<QList<int>> updated, Change change)
{
    MainQueue::dispatchAsync([sender, added, removed, updated, change] {
        QVariantMap userInfo;
        if (change == Change::Refused)
            userInfo.insert(refusedChangeKey(), true);
        if (removed)
            userInfo.insert(removedSourcesKey(), QVariant::fromValue(*removed));
        if (added)
            userInfo.insert(addedSourcesKey(), QVariant::fromValue(*added));
        if (updated)
            userInfo.insert(updatedSourcesKey(), QVariant::fromValue(*updated));
        NotificationCenter::defaultCenter().post(changeNotification(), sender, userInfo);
    });
}

} // namespace Tickerly::Data

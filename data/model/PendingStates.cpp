#include "data/model/PendingStates_p.h"

#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QHash>
#include <QList>
#include <QVariantMap>

#include <atomic>
#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace StateLists {

namespace {

struct Note {
    quint64 id;
    QString link;
    StoryState state;
};

struct Notes {
    std::mutex mutex;
    // By suite and key, oldest first.
    QHash<QString, QList<Note>> byList;
    quint64 lastId = 0;
    // Readers skip the lock while nothing is noted, which is nearly always.
    std::atomic<int> count { 0 };
};

Notes& notes()
{
    static auto& all = *new Notes; // never destroyed: workers may still read it at the end
    return all;
}

QString listName(const QString& suite, const QString& key) { return suite + u'\n' + key; }

} // namespace

QString keptStateNotification() { return u"velmora.Tickerly.StateList.keptStateNotification"_s; }
QString keyKey() { return u"key"_s; }
QString linkKey() { return u"link"_s; }
QString refusedKey() { return u"refused"_s; }

quint64 notePending(const QString& suite, const QString& key, const QString& link, StoryState state)
{
    Notes& all = notes();
    std::lock_guard lock(all.mutex);
    const quint64 id = ++all.lastId;
    all.byList[listName(suite, key)].append({ id, link, state });
    ++all.count;
    return id;
}

void endPending(
    const QString& suite, const QString& key, const QString& link, quint64 id, NoteEnd end)
{
    {
        Notes& all = notes();
        std::lock_guard lock(all.mutex);
        const auto list = all.byList.find(listName(suite, key));
        if (list != all.byList.end()) {
            all.count -= int(list->removeIf([id](const Note& n) { return n.id == id; }));
            if (list->isEmpty())
                all.byList.erase(list);
        }
    }
    if (end == NoteEnd::Quiet)
        return;
    const bool written = end == NoteEnd::AnnounceWritten;
    MainQueue::dispatchAsync([key, link, written] {
        QVariantMap userInfo { { keyKey(), key }, { linkKey(), link } };
        if (!written)
            userInfo.insert(refusedKey(), true);
        NotificationCenter::defaultCenter().post(keptStateNotification(), nullptr, userInfo);
    });
}

std::optional<StoryState> pendingState(
    const QString& suite, const QString& key, const QString& link)
{
    Notes& all = notes();
    if (all.count.load() == 0)
        return std::nullopt;
    std::lock_guard lock(all.mutex);
    const auto list = all.byList.constFind(listName(suite, key));
    if (list == all.byList.cend())
        return std::nullopt;
    for (auto it = list->crbegin(); it != list->crend(); ++it) {
        if (it->link == link)
            return it->state;
    }
    return std::nullopt;
}

} // namespace StateLists

} // namespace Tickerly::Data

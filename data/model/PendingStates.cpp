#include "data/model/PendingStates_p.h"

#include "data/model/KeptValues.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QVariantMap>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace StateLists {

namespace {

KeptValues<StoryState>& notes()
{
    static auto& all = *new KeptValues<StoryState>; // never destroyed: workers may still read it
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
    return notes().note(listName(suite, key), link, state);
}

void endPending(
    const QString& suite, const QString& key, const QString& link, quint64 id, NoteEnd end)
{
    notes().end(listName(suite, key), id);
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
    return notes().newest(listName(suite, key), link);
}

} // namespace StateLists

} // namespace Tickerly::Data

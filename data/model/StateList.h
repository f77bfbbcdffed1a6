#pragma once

#include "data/Namespace.h"
#include "data/model/StoryState.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::Data {

namespace StateLists {

// What one stored list of state records is: the key it is stored under, the link of a record
// (if it has one), and what makes its records readable. One a list, made as its library loads.
template <typename Record> struct StoredList {
    using LinkOf = std::optional<Foundation::Url> (*)(const Record&);
    QString key;
    LinkOf linkOf;
    void (*registerClasses)();
};

// One object's view of a list of per-story state records stored under one key of a settings
// suite: the list as last read, kept until flush() or the object's own next write, and the
// records' states by link. A Record has a `state`. Held by value by StoryStateData and
// ArchivedStoriesData and used by one thread at a time; its functions other than the accessors
// are defined in StateList_p.h.
template <typename Record> class StateList {
public:
    using Records = QList<std::shared_ptr<Record>>;

    // Makes the list's records readable.
    StateList(std::shared_ptr<Foundation::UserDefaults> localStore, const StoredList<Record>& list)
        : m_localStore(std::move(localStore))
        , m_list(list)
    {
        m_list.registerClasses();
    }

    // Records `record` for `link` (null removes its record) and forgets the loaded list.
    Foundation::UserDefaults::Outcome setState(
        const std::optional<Foundation::Url>& link, const std::shared_ptr<Record>& record);
    // None for a link without record.
    StoryState stateForLink(const QString& link);
    // The stored list, read once until the next flush.
    const Records& records();
    void flush();

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const { return m_localStore; }
    const std::optional<Records>& cachedData() const { return m_cachedData; }
    const std::optional<QHash<QString, StoryState>>& linkStateCache() const
    {
        return m_linkStateCache;
    }

private:
    // Rebuilds the link cache as every assignment of the cached list does.
    void setCachedData(std::optional<Records> data);

    std::shared_ptr<Foundation::UserDefaults> m_localStore;
    StoredList<Record> m_list;
    std::optional<Records> m_cachedData;
    std::optional<QHash<QString, StoryState>> m_linkStateCache;
};

} // namespace StateLists

} // namespace Tickerly::Data

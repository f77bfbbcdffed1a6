#pragma once

#include "data/Namespace.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <mutex>
#include <optional>

namespace Tickerly::Data {

// Values this process set while another process kept the store locked, until each is written or
// refused: what this process reads shows them at once. By list (a key of a suite, or a suite) and
// item in it; of an item noted more than once the newest is read. Owned by the one static of its
// user, never destroyed (a kept change may still end on a worker while the process ends); any
// thread.
template <typename Value> class KeptValues {
public:
    // Notes `value` for `item` of `list`; gives the note's number.
    quint64 note(const QString& list, const QString& item, Value value)
    {
        std::lock_guard lock(m_mutex);
        const quint64 id = ++m_lastId;
        m_byList[list].append({ id, item, std::move(value) });
        ++m_count;
        return id;
    }

    // Forgets note `id` of `list`.
    void end(const QString& list, quint64 id)
    {
        std::lock_guard lock(m_mutex);
        const auto notes = m_byList.find(list);
        if (notes == m_byList.end())
            return;
        m_count -= int(notes->removeIf([id](const Note& n) { return n.id == id; }));
        if (notes->isEmpty())
            m_byList.erase(notes);
    }

    // The newest value noted for `item` of `list`, or nothing.
    std::optional<Value> newest(const QString& list, const QString& item) const
    {
        // Readers skip the lock while nothing is noted, which is nearly always.
        if (m_count.load() == 0)
            return std::nullopt;
        std::lock_guard lock(m_mutex);
        const auto notes = m_byList.constFind(list);
        if (notes == m_byList.cend())
            return std::nullopt;
        for (auto it = notes->crbegin(); it != notes->crend(); ++it) {
            if (it->item == item)
                return it->value;
        }
        return std::nullopt;
    }

private:
    struct Note {
        quint64 id;
        QString item;
        Value value;
    };

    mutable std::mutex m_mutex;
    // Oldest first.
    QHash<QString, QList<Note>> m_byList;
    quint64 m_lastId = 0;
    std::atomic<int> m_count { 0 };
};

} // namespace Tickerly::Data

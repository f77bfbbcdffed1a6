// The kept changes of a backlog written key by key, each key's in one read-modify-write.

#include "platform/foundation/store/UserDefaultsKept_p.h"

#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"

#include <any>
#include <map>

namespace Tickerly::Foundation {

namespace {

// What one key holds as its kept changes run, inside one savepoint of the write transaction: the
// stored value until one of them wrote it, then plain bytes or a value; or, along a run of changes
// of one form, that form's held value, encoded only once the run ends. Lives for that savepoint.
class KeyRun {
public:
    KeyRun(StoreDatabase& database, const QString& key, qint64 all, qint64 own)
        : m_database(database)
        , m_key(key)
        , m_all(all)
        , m_own(own)
    {
    }

    // Runs `k`, its outcome added to `ran`. False when the stored value could not be kept aside.
    bool run(KeptChange& k, std::vector<KeptRun>& ran)
    {
        if (k.value) {
            ran.push_back({ m_key, {}, writeWhole(k), k.replayed });
            return true;
        }
        bool keptOk = true;
        try {
            runUpdate(k, &keptOk);
        } catch (...) {
            ran.push_back({ m_key, std::move(k.done), false, k.replayed });
            return true;
        }
        if (!keptOk)
            return false;
        ran.push_back({ m_key, std::move(k.done), true, k.replayed });
        return true;
    }

    // What the changes made of the key, written.
    bool store()
    {
        settle();
        if (!m_touched)
            return true;
        if (!m_loaded && !m_database.keepAsideIfDamaged(m_key))
            return false;
        // Whole when a whole value of the backlog is in it, even with updates run on it.
        const auto how = m_whole ? StoreDatabase::Written::Whole : StoreDatabase::Written::ByUpdate;
        if (m_isBytes)
            return m_database.write(m_key, m_bytes, how);
        if (!m_value)
            return m_database.write(m_key, std::nullopt, how);
        // Checked once, as the key's value is encoded: checking each update's result would
        // convert a long list once a change.
        const auto item = toItem(*m_value, 0);
        if (!item)
            qCWarning(lcUserDefaults)
                << "not a property-list value for" << m_key << m_value->metaType().name();
        return item && m_database.write(m_key, Cbor::encode(*item), how);
    }

private:
    // A replayed change counts every write since it was kept; this process's own, only the
    // others' (a replay of another's journal in this transaction is its own write).
    bool writeWhole(const KeptChange& k)
    {
        if ((k.replayed ? m_all : m_all - m_own) > k.writesSeen) {
            qCWarning(lcUserDefaults)
                << "a value of" << m_key << "kept for suite" << m_database.suiteName()
                << "was dropped: another process wrote it since";
            return false;
        }
        // Written over whole: what a form held is dropped unencoded.
        m_heldChanged = false;
        settle();
        m_bytes = *k.value;
        m_isBytes = m_touched = m_whole = true;
        return true;
    }

    void runUpdate(KeptChange& k, bool* keptOk)
    {
        if (k.form) {
            if (m_heldForm != k.form.get()) {
                const std::optional<QVariant> stored = current(keptOk);
                if (!*keptOk)
                    return;
                m_held = k.form->decode(stored);
                m_heldForm = k.form.get();
            }
            const bool changed = k.formUpdate(m_held);
            m_heldChanged = m_heldChanged || changed;
            return;
        }
        const std::optional<QVariant> stored = current(keptOk);
        if (!*keptOk)
            return;
        const std::optional<QVariant> next = k.update(stored);
        if (next) {
            m_value = next->isValid() ? next : std::nullopt;
            m_isBytes = false;
            m_touched = true;
        }
    }

    void settle()
    {
        if (m_heldForm && m_heldChanged) {
            QVariant encoded = m_heldForm->encode(m_held);
            m_value = encoded.isValid() ? std::optional(std::move(encoded)) : std::nullopt;
            m_isBytes = false;
            m_touched = true;
        }
        m_heldForm = nullptr;
        m_held.reset();
        m_heldChanged = false;
    }

    std::optional<QVariant> current(bool* keptOk)
    {
        settle();
        if (m_touched)
            return m_isBytes ? (m_bytes ? decodeValue(*m_bytes) : std::nullopt) : m_value;
        if (!m_loaded)
            m_value = m_database.readForChange(m_key, keptOk);
        m_loaded = true;
        return m_value;
    }

    StoreDatabase& m_database;
    const QString& m_key;
    const qint64 m_all;
    const qint64 m_own;
    bool m_loaded = false;
    bool m_touched = false;
    bool m_isBytes = false;
    bool m_whole = false;
    std::optional<QByteArray> m_bytes;
    std::optional<QVariant> m_value;
    const UserDefaults::Form* m_heldForm = nullptr;
    std::any m_held;
    bool m_heldChanged = false;
};

} // namespace

void runBacklog(StoreDatabase& database, std::deque<KeptChange>& backlog, std::vector<KeptRun>& ran)
{
    std::vector<QString> order;
    std::map<QString, std::vector<KeptChange*>> byKey;
    for (KeptChange& k : backlog) {
        auto& ofKey = byKey[k.key];
        if (ofKey.empty())
            order.push_back(k.key);
        ofKey.push_back(&k);
    }
    for (const QString& key : order) {
        const qint64 own = database.ownWholeWritesSoFar(key);
        const qint64 all = StoreDatabase::wholeWritesOf(database.writer(), key);
        std::vector<KeptRun> ofKey;
        const bool ok = database.transaction([&] {
            KeyRun run(database, key, all, own);
            for (KeptChange* k : byKey[key]) {
                if (!run.run(*k, ofKey))
                    return false;
            }
            return run.store();
        });
        for (KeptRun& r : ofKey) {
            r.ok = r.ok && ok;
            ran.push_back(std::move(r));
        }
    }
}

} // namespace Tickerly::Foundation

#pragma once

// What the tests of the kept-change journal share: journals as runs that ended left them.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/store/UserDefaultsTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

namespace Tickerly::Foundation {

namespace JournalTest {

inline const QString appendKind = QStringLiteral("test.append");

inline UserDefaults::Updater appending(const QString& entry)
{
    return [entry](const std::optional<QVariant>& current) {
        QVariantList list = current.value_or(QVariant()).toList();
        list.append(entry);
        return std::optional<QVariant>(QVariant(list));
    };
}

// Appending is no change that may run twice unseen: a second run shows as a second entry.
inline const bool appendRegistered = [] {
    UserDefaults::registerReplayer(appendKind,
        [](const QString&, const QString&,
            const QVariant& entry) -> std::optional<UserDefaults::Replayed> {
            if (entry.typeId() != QMetaType::QString)
                return std::nullopt;
            return UserDefaults::Replayed { appending(entry.toString()), {}, {}, {} };
        });
    return true;
}();

inline UserDefaults::Replay appendReplay(const QString& entry)
{
    return { appendKind, [entry] { return QVariant(entry); } };
}

inline QStringList journals(const QString& suite)
{
    const QFileInfo db(StoreTest::databasePath(suite));
    return QDir(db.absolutePath())
        .entryList({ db.fileName() + QStringLiteral(".kept-*") },
            QDir::Files | QDir::System | QDir::Hidden);
}

// Whether the journals beside the suite are all gone once written, by a retry here or by one
// on the store's worker (which holds a journal it replays until its removal).
inline bool journalsGone(UserDefaults& defaults)
{
    return TestSupport::waitFor([&] {
        defaults.retryKeptChanges(std::chrono::seconds(30));
        return journals(defaults.suiteName()).isEmpty();
    });
}

// Keeps "once" appended to "list" (set to "start" first) while another program holds the store,
// and `alsoKept` beside it; once the store is free, writes them but leaves the journal, as a
// crash between the commit and its removal would.
inline void writeButLeaveTheJournal(
    UserDefaults& defaults, const std::function<void()>& alsoKept = {})
{
    const QString suite = defaults.suiteName();
    ASSERT_EQ(defaults.set(QStringLiteral("list"), QVariantList { QStringLiteral("start") }),
        UserDefaults::Outcome::Done);
    auto holder = StoreTest::startHelper(
        { QStringLiteral("hold"), suite, QStringLiteral("held"), QStringLiteral("by helper") });
    ASSERT_EQ(StoreTest::readLine(*holder), QStringLiteral("holding"));
    ASSERT_EQ(defaults.updateOrKeep(QStringLiteral("list"), appending(QStringLiteral("once")), {},
                  appendReplay(QStringLiteral("once"))),
        UserDefaults::Outcome::Kept);
    if (alsoKept)
        alsoKept();
    // On disk before Kept was said.
    EXPECT_EQ(journals(suite).size(), 1);

    UserDefaultsTesting::leaveJournalsAfterWriting(true);
    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    // A retry on the store's worker may be writing them at the same time.
    EXPECT_TRUE(TestSupport::waitFor([&] {
        return defaults.retryKeptChanges(std::chrono::seconds(30)) || defaults.keptChanges() == 0;
    }));
    UserDefaultsTesting::leaveJournalsAfterWriting(false);
    EXPECT_EQ(defaults.array(QStringLiteral("list")),
        (QVariantList { QStringLiteral("start"), QStringLiteral("once") }));
    ASSERT_EQ(journals(suite).size(), 1);
}

inline CborItem text(const QString& value)
{
    CborItem item;
    item.kind = CborItem::Kind::Text;
    item.text = value;
    return item;
}

inline CborItem integer(qint64 value)
{
    CborItem item;
    item.kind = CborItem::Kind::Integer;
    item.integer = value;
    return item;
}

// A plain value as set() journals it: its stored bytes, and the writes of its key seen then.
inline CborItem plainValue(const QByteArray& stored)
{
    CborItem item;
    item.kind = CborItem::Kind::Map;
    CborItem bytes;
    bytes.kind = CborItem::Kind::Bytes;
    bytes.bytes = stored;
    item.entries = { { QStringLiteral("seen"), integer(0) }, { QStringLiteral("value"), bytes } };
    return item;
}

// Short text as the store keeps it (CBOR).
inline QByteArray storedText(const QByteArray& utf8) { return char(0x60 + utf8.size()) + utf8; }

inline QByteArray frame(char id, const QString& kind, const QString& key, const CborItem& arguments)
{
    return KeptJournal::frame({ QByteArray(16, id), kind, key, arguments });
}

// A journal as a run that ended left it, put in place whole: the opening's replay runs on a
// worker and may look at any moment.
inline void leaveJournal(const QString& suite, const QString& name, const QByteArray& bytes)
{
    const QString path = StoreTest::databasePath(suite);
    QFile file(path + QStringLiteral(".making"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_TRUE(QFile::rename(file.fileName(), path + QStringLiteral(".kept-") + name));
}

} // namespace JournalTest

} // namespace Tickerly::Foundation

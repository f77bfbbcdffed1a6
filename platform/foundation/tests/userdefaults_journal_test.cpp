// The journal of kept changes: what a run left when it ended is written by the next opening of
// the suite, once, and a damaged journal neither stops it nor harms the store.

#include "platform/foundation/KeptJournal_p.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/UserDefaultsTesting.h"
#include "platform/foundation/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;
using TestSupport::LogCollector;

namespace {

const QString suite = u"journal.suite"_s;
const QString appendKind = u"test.append"_s;

UserDefaults::Updater appending(const QString& entry)
{
    return [entry](const std::optional<QVariant>& current) {
        QVariantList list = current.value_or(QVariant()).toList();
        list.append(entry);
        return std::optional<QVariant>(QVariant(list));
    };
}

// Appending is no change that may run twice unseen: a second run shows as a second entry.
const bool appendRegistered = [] {
    UserDefaults::registerReplayer(appendKind,
        [](const QString&, const QString&,
            const QVariant& entry) -> std::optional<UserDefaults::Replayed> {
            if (entry.typeId() != QMetaType::QString)
                return std::nullopt;
            return UserDefaults::Replayed { appending(entry.toString()), {}, {}, {} };
        });
    return true;
}();

UserDefaults::Replay appendReplay(const QString& entry)
{
    return { appendKind, [entry] { return QVariant(entry); } };
}

QStringList journals()
{
    const QFileInfo db(databasePath(suite));
    return QDir(db.absolutePath()).entryList({ db.fileName() + u".kept-*"_s }, QDir::Files);
}

CborItem text(const QString& value)
{
    CborItem item;
    item.kind = CborItem::Kind::Text;
    item.text = value;
    return item;
}

CborItem integer(qint64 value)
{
    CborItem item;
    item.kind = CborItem::Kind::Integer;
    item.integer = value;
    return item;
}

// A plain value as set() journals it: its stored bytes, and the writes of its key seen then.
CborItem plainValue(const QByteArray& stored)
{
    CborItem item;
    item.kind = CborItem::Kind::Map;
    CborItem bytes;
    bytes.kind = CborItem::Kind::Bytes;
    bytes.bytes = stored;
    item.entries = { { u"seen"_s, integer(0) }, { u"value"_s, bytes } };
    return item;
}

QByteArray frame(char id, const QString& kind, const QString& key, const CborItem& arguments)
{
    return KeptJournal::frame({ QByteArray(16, id), kind, key, arguments });
}

// A journal as a run that ended left it.
void leaveJournal(const QString& name, const QByteArray& bytes)
{
    QFile file(databasePath(suite) + u".kept-"_s + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

// The changes were written, but the run ended before it removed its journal: the next opening
// replays none of them again, and removes the journal.
TEST(UserDefaultsJournal, AJournalOutlivingItsWrittenChangesIsNotReplayedAgain)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"list"_s, QVariantList { u"start"_s }), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    EXPECT_EQ(defaults.updateOrKeep(u"list"_s, appending(u"once"_s), {}, appendReplay(u"once"_s)),
        UserDefaults::Outcome::Kept);
    EXPECT_EQ(defaults.set(u"plain"_s, 1), UserDefaults::Outcome::Kept);
    // On disk before Kept was said.
    EXPECT_EQ(journals().size(), 1);

    UserDefaultsTesting::leaveJournalsAfterWriting(true);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    UserDefaultsTesting::leaveJournalsAfterWriting(false);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"once"_s }));
    ASSERT_EQ(journals().size(), 1);

    // Another program sets the plain value meanwhile: the journal must not set it back.
    auto other = startHelper({ u"set-twice"_s, suite, u"plain"_s });
    ASSERT_EQ(readLine(*other), u"ready"_s);
    other->write("go\n");
    ASSERT_TRUE(finishedOk(*other));

    EXPECT_EQ(defaults.set(u"next"_s, 2), UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"once"_s }));
    EXPECT_EQ(defaults.string(u"plain"_s), u"second"_s);
    EXPECT_TRUE(journals().isEmpty());
}

// A journal cut short and damaged: its sound entries are written, in order, the others skipped
// with a line in the log, and the store keeps what it held. A journal holding a change this
// program does not know is left whole for one that does.
TEST(UserDefaultsJournal, ADamagedJournalIsWrittenAsFarAsItIsSound)
{
    {
        UserDefaults defaults(suite);
        ASSERT_EQ(defaults.set(u"stays"_s, u"as it was"_s), UserDefaults::Outcome::Done);
        ASSERT_EQ(
            defaults.set(u"list"_s, QVariantList { u"start"_s }), UserDefaults::Outcome::Done);
    }
    QByteArray damaged = frame(1, u"value"_s, u"one"_s, plainValue(QByteArray("\x01", 1)));
    damaged += frame(2, appendKind, u"list"_s, text(u"first"_s));
    QByteArray garbage = frame(3, appendKind, u"list"_s, text(u"garbage"_s));
    garbage.replace(4, garbage.size() - 4, QByteArray(garbage.size() - 4, '\xff'));
    damaged += garbage;
    // Arguments no change is made of, and a value no reader would take.
    damaged += frame(4, appendKind, u"list"_s, integer(7));
    damaged += frame(5, u"value"_s, u"bad"_s, plainValue(QByteArray("\xff\xff", 2)));
    damaged += frame(6, appendKind, u"list"_s, text(u"second"_s));
    const QByteArray cut = frame(7, appendKind, u"list"_s, text(u"cut"_s));
    damaged += cut.left(cut.size() / 2);
    leaveJournal(QString(32, u'a'), damaged);
    const QByteArray unknown = frame(8, u"value"_s, u"two"_s, plainValue(QByteArray("\x02", 1)))
        + frame(9, u"kind.nobody.knows"_s, u"list"_s, text(u"x"_s));
    leaveJournal(QString(32, u'b'), unknown);

    LogCollector log;
    UserDefaults defaults(suite);
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.integer(u"one"_s), 1);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"first"_s, u"second"_s }));
    EXPECT_FALSE(defaults.value(u"bad"_s).isValid());
    EXPECT_EQ(defaults.string(u"stays"_s), u"as it was"_s);
    EXPECT_TRUE(log.contains(u"is damaged; 3 entries were skipped and its end cut off"_s))
        << log.text().toStdString();
    // Left whole: none of it written, said once.
    EXPECT_FALSE(defaults.value(u"two"_s).isValid());
    EXPECT_EQ(journals(), QStringList { suite + u".sqlite.kept-"_s + QString(32, u'b') });
    EXPECT_EQ(defaults.set(u"next"_s, 1), UserDefaults::Outcome::Done);
    EXPECT_EQ(journals().size(), 1);
    EXPECT_EQ(log.count(u"holds changes this program does not know"_s), 1);
}

// A full disk: a change the journal cannot take is no longer called Kept, but held in memory
// only; one that never had a journal entry is Kept as before. Each is still written once the
// store frees before the end.
TEST(UserDefaultsJournal, AChangeTheJournalCannotTakeIsHeldInMemoryAndWrittenWhenTheStoreFrees)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"list"_s, QVariantList { u"start"_s }), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    UserDefaultsTesting::failJournalWrites(true);
    EXPECT_EQ(defaults.set(u"plain"_s, 1), UserDefaults::Outcome::HeldInMemory);
    EXPECT_EQ(defaults.updateOrKeep(u"list"_s, appending(u"one"_s), {}, appendReplay(u"one"_s)),
        UserDefaults::Outcome::HeldInMemory);
    EXPECT_EQ(defaults.updateOrKeep(u"list"_s, appending(u"two"_s)), UserDefaults::Outcome::Kept);
    UserDefaultsTesting::failJournalWrites(false);
    EXPECT_TRUE(journals().isEmpty());

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.integer(u"plain"_s), 1);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"one"_s, u"two"_s }));
}

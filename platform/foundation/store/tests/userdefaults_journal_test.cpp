// The journal of kept changes: what a run left when it ended is written by the next opening of
// the suite, once, and a damaged journal neither stops it nor harms the store.

#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/tests/JournalTestSupport.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;
using namespace JournalTest;
using TestSupport::LogCollector;

namespace {

const QString suite = u"journal.suite"_s;

} // namespace

// The changes were written, but the run ended before it removed its journal: the next opening
// replays none of them again, and removes the journal.
TEST(UserDefaultsJournal, AJournalOutlivingItsWrittenChangesIsNotReplayedAgain)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    writeButLeaveTheJournal(
        defaults, [&] { EXPECT_EQ(defaults.set(u"plain"_s, 1), UserDefaults::Outcome::Kept); });

    // Another program sets the plain value meanwhile: the journal must not set it back.
    auto other = startHelper({ u"set-twice"_s, suite, u"plain"_s });
    ASSERT_EQ(readLine(*other), u"ready"_s);
    other->write("go\n");
    ASSERT_TRUE(finishedOk(*other));

    EXPECT_EQ(defaults.set(u"next"_s, 2), UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"once"_s }));
    EXPECT_EQ(defaults.string(u"plain"_s), u"second"_s);
    EXPECT_TRUE(journalsGone(defaults));
}

// A journal cut short and damaged: its sound entries are written, in order, the others skipped
// with a line in the log, and the store keeps what it held. A journal holding a change this
// program does not know is left whole for one that does.
TEST(UserDefaultsJournal, ADamagedJournalIsWrittenAsFarAsItIsSound)
{
    // From the first opening: its replay runs on a worker, and may find the journals.
    LogCollector log;
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
    leaveJournal(suite, QString(32, u'a'), damaged);
    const QByteArray unknown = frame(8, u"value"_s, u"two"_s, plainValue(QByteArray("\x02", 1)))
        + frame(9, u"kind.nobody.knows"_s, u"list"_s, text(u"x"_s));
    leaveJournal(suite, QString(32, u'b'), unknown);

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
    EXPECT_EQ(journals(suite), QStringList { suite + u".sqlite.kept-"_s + QString(32, u'b') });
    EXPECT_EQ(defaults.set(u"next"_s, 1), UserDefaults::Outcome::Done);
    EXPECT_EQ(journals(suite).size(), 1);
    EXPECT_EQ(log.count(u"changes this program does not know"_s), 1);
}

namespace {

// Sets `key` to `value` in a program of its own while the store is held, and quits it: the change
// is left in its journal.
void keepAndQuit(const QString& key, const QString& value)
{
    auto keeper = startHelper({ u"keep-at-exit"_s, suite, key, value, u"100"_s });
    ASSERT_EQ(readLine(*keeper), u"kept"_s);
    keeper->write("end\n");
    ASSERT_TRUE(finishedOk(*keeper));
}

void renameJournal(const QString& name, const QString& to)
{
    const QFileInfo db(databasePath(suite));
    const QString dir = db.absolutePath() + u'/';
    ASSERT_TRUE(QFile::rename(dir + name, dir + db.fileName() + u".kept-"_s + to));
}

} // namespace

// Two programs set one value, one after the other, while a third holds the store past both their
// ends: the next opening writes the one made last, whatever the journals' names.
TEST(UserDefaultsJournal, OfTwoRunsThatEndedTheChangeMadeLastStays)
{
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    keepAndQuit(u"value"_s, u"older"_s);
    const QStringList older = journals(suite);
    ASSERT_EQ(older.size(), 1);
    keepAndQuit(u"value"_s, u"newer"_s);
    QStringList newer = journals(suite);
    ASSERT_EQ(newer.size(), 2);
    newer.removeAll(older.first());
    // The names are random: the newer one named first is the order that shows it.
    renameJournal(older.first(), QString(32, u'f'));
    renameJournal(newer.first(), QString(32, u'0'));
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));

    UserDefaults defaults(suite);
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.string(u"value"_s), u"newer"_s);
    EXPECT_TRUE(journalsGone(defaults));
}

// This program keeps a value, then another program sets it and ends while the store is still
// held: the other program's later change stays, though this one's own backlog is written after
// what the other left.
TEST(UserDefaultsJournal, AKeptChangeGivesWayToALaterOneOfARunThatEnded)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"value"_s, u"stored"_s), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    ASSERT_EQ(defaults.set(u"value"_s, u"older"_s), UserDefaults::Outcome::Kept);
    ASSERT_EQ(defaults.set(u"other"_s, u"own"_s), UserDefaults::Outcome::Kept);
    keepAndQuit(u"value"_s, u"newer"_s);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));

    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.string(u"value"_s), u"newer"_s);
    EXPECT_EQ(defaults.string(u"other"_s), u"own"_s);
    EXPECT_TRUE(journalsGone(defaults));
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
    EXPECT_TRUE(journals(suite).isEmpty());

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.integer(u"plain"_s), 1);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"one"_s, u"two"_s }));
}

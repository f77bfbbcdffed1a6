#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/UserDefaultsTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sqlite3.h>

#include <limits>
#include <memory>
#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;

namespace {

const QString suite = u"test.suite"_s;

} // namespace

TEST(UserDefaults, KeepsEveryValueKindAndShowsItToEveryHandle)
{
    UserDefaults writer(suite);
    UserDefaults reader(suite);
    ASSERT_TRUE(writer.isPersistent());
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    const QVariantMap nested { { u"list"_s, QVariantList { 1, u"two"_s, 3.5 } },
        { u"flag"_s, true } };

    EXPECT_EQ(writer.set(u"text"_s, u"héllo"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"empty"_s, QString(u""_s)), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"int"_s, -42), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"double"_s, 2.25), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"bool"_s, true), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"data"_s, QByteArray("\x00\x01\xff", 3)), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"date"_s, when), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"dict"_s, nested), UserDefaults::Outcome::Done);
    EXPECT_EQ(writer.set(u"names"_s, QStringList { u"a"_s, u"b"_s }), UserDefaults::Outcome::Done);

    EXPECT_EQ(reader.string(u"text"_s), u"héllo"_s);
    // A stored empty text is a value, not an absent one.
    EXPECT_EQ(reader.string(u"empty"_s), QString());
    EXPECT_TRUE(reader.string(u"empty"_s).has_value());
    EXPECT_EQ(reader.integer(u"int"_s), -42);
    EXPECT_EQ(reader.doubleValue(u"double"_s), 2.25);
    EXPECT_TRUE(reader.boolean(u"bool"_s));
    EXPECT_EQ(reader.data(u"data"_s), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(reader.date(u"date"_s), when);
    EXPECT_EQ(reader.dictionary(u"dict"_s), nested);
    EXPECT_EQ(reader.array(u"names"_s), (QVariantList { u"a"_s, u"b"_s }));

    // The conversions readers rely on: numbers read as text, text as numbers.
    EXPECT_EQ(reader.string(u"int"_s), u"-42"_s);
    EXPECT_EQ(reader.integer(u"double"_s), 2);
    EXPECT_FALSE(reader.data(u"text"_s).has_value());
    EXPECT_FALSE(reader.string(u"missing"_s).has_value());
    EXPECT_EQ(reader.integer(u"missing"_s), 0);

    EXPECT_EQ(writer.remove(u"text"_s), UserDefaults::Outcome::Done);
    EXPECT_FALSE(reader.value(u"text"_s).isValid());
}

TEST(UserDefaults, RefusesValuesThatAreNoPropertyListsAndKeepsTheOldOne)
{
    UserDefaults defaults(suite);
    (void)defaults.set(u"k"_s, 1);
    EXPECT_EQ(defaults.set(u"k"_s, QUrl(u"http://x/"_s)), UserDefaults::Outcome::Failed);
    EXPECT_EQ(defaults.set(u"k"_s, QVariantList { 1, QUrl(u"http://x/"_s) }),
        UserDefaults::Outcome::Failed);
    EXPECT_EQ(defaults.integer(u"k"_s), 1);
    EXPECT_FALSE(defaults.update(
        u"k"_s, [](const auto&) { return std::optional<QVariant>(QVariant(QUrl())); }));
    EXPECT_EQ(defaults.integer(u"k"_s), 1);
}

TEST(UserDefaults, AnUnsignedNumberPastTheSignedRangeIsRefusedNotStoredNegative)
{
    UserDefaults defaults(suite);
    (void)defaults.set(u"k"_s, 1);
    for (const QVariant& huge : { QVariant::fromValue(std::numeric_limits<unsigned long>::max()),
             QVariant::fromValue(std::numeric_limits<qulonglong>::max()) }) {
        EXPECT_EQ(defaults.set(u"k"_s, huge), UserDefaults::Outcome::Failed)
            << huge.metaType().name();
        EXPECT_EQ(defaults.integer(u"k"_s), 1);
    }
    EXPECT_EQ(defaults.set(u"k"_s, QVariant::fromValue(static_cast<unsigned long>(1) << 62)),
        UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.integer(u"k"_s), qint64(1) << 62);
}

TEST(UserDefaults, UpdateKeepsRemovesOrReplacesTheValueItRead)
{
    UserDefaults defaults(suite);
    std::optional<QVariant> seen = QVariant(u"sentinel"_s);
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const std::optional<QVariant>& current) {
        seen = current;
        return std::optional<QVariant>(QVariant(7));
    }));
    EXPECT_FALSE(seen.has_value());
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const std::optional<QVariant>& current) {
        seen = current;
        return std::optional<QVariant>();
    }));
    EXPECT_EQ(seen, QVariant(qint64(7)));
    EXPECT_EQ(defaults.integer(u"k"_s), 7);
    EXPECT_TRUE(
        defaults.update(u"k"_s, [](const auto&) { return std::optional<QVariant>(QVariant()); }));
    EXPECT_FALSE(defaults.value(u"k"_s).isValid());

    // Inside an update the suite can be read; a nested update fails rather than deadlocks.
    (void)defaults.set(u"other"_s, 3);
    bool nested = true;
    EXPECT_TRUE(defaults.update(u"k"_s, [&](const auto&) {
        UserDefaults again(suite);
        nested = again.update(
            u"other"_s, [](const auto&) { return std::optional<QVariant>(QVariant(4)); });
        return std::optional<QVariant>(QVariant(again.integer(u"other"_s) * 10));
    }));
    EXPECT_FALSE(nested);
    EXPECT_EQ(defaults.integer(u"k"_s), 30);
}

TEST(UserDefaults, TwoProcessesChangingOneKeyLoseNothing)
{
    auto a = startHelper({ u"increment"_s, suite, u"count"_s, u"500"_s });
    auto b = startHelper({ u"increment"_s, suite, u"count"_s, u"500"_s });
    ASSERT_TRUE(finishedOk(*a));
    ASSERT_TRUE(finishedOk(*b));
    EXPECT_EQ(UserDefaults(suite).integer(u"count"_s), 1000);

    auto c = startHelper({ u"append"_s, suite, u"list"_s, u"c"_s, u"200"_s });
    auto d = startHelper({ u"append"_s, suite, u"list"_s, u"d"_s, u"200"_s });
    ASSERT_TRUE(finishedOk(*c));
    ASSERT_TRUE(finishedOk(*d));
    const QVariantList list = UserDefaults(suite).array(u"list"_s).value_or(QVariantList());
    QSet<QString> entries;
    for (const QVariant& v : list)
        entries.insert(v.toString());
    EXPECT_EQ(list.size(), 400);
    EXPECT_EQ(entries.size(), 400);
    EXPECT_TRUE(entries.contains(u"c199"_s) && entries.contains(u"d0"_s));
}

TEST(UserDefaults, AWriterKilledInTheMiddleLeavesItsLastCommittedValue)
{
    auto writer = startHelper({ u"write-loop"_s, suite, u"k"_s });
    qint64 lastPrinted = 0;
    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            while (writer->canReadLine())
                lastPrinted = writer->readLine().trimmed().toLongLong();
            writer->waitForReadyRead(10);
            return lastPrinted >= 40;
        },
        60000));
    writer->kill();
    ASSERT_TRUE(writer->waitForFinished(10000));
    while (writer->canReadLine())
        lastPrinted = writer->readLine().trimmed().toLongLong();

    UserDefaults after(suite);
    ASSERT_TRUE(after.isPersistent());
    const QVariantMap value = after.dictionary(u"k"_s).value_or(QVariantMap());
    const qint64 n = value.value(u"n"_s).toLongLong();
    // The kill may land after a commit and before its number was printed.
    EXPECT_GE(n, lastPrinted);
    EXPECT_LE(n, lastPrinted + 1);
    EXPECT_EQ(value.value(u"padding"_s).toByteArray().size(), 256 * 1024);
}

TEST(UserDefaults, ADamagedDatabaseIsKeptAsideAndTheSuiteStartsAnew)
{
    const QString path = databasePath(suite);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QByteArray junk(64 * 1024, '\0');
    for (auto& c : junk)
        c = char(QRandomGenerator::global()->bounded(256));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }

    UserDefaults defaults(suite);
    EXPECT_TRUE(defaults.isPersistent());
    EXPECT_FALSE(defaults.value(u"anything"_s).isValid());
    EXPECT_EQ(defaults.set(u"k"_s, 5), UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.integer(u"k"_s), 5);
    EXPECT_EQ(TestSupport::readFile(path + u".corrupt"_s), junk);
}

TEST(UserDefaults, ASuiteThatCannotBeOpenedRunsInMemory)
{
    // A file where the suite's directory should be.
    const QString container = *GroupContainer::path(u"blocked.suite"_s);
    ASSERT_TRUE(QDir().mkpath(container));
    QFile blocker(container + u"/Preferences"_s);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    UserDefaults defaults(u"blocked.suite"_s);
    EXPECT_FALSE(defaults.isPersistent());
    EXPECT_EQ(defaults.set(u"k"_s, u"v"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(UserDefaults(u"blocked.suite"_s).string(u"k"_s), u"v"_s);

    // A suite name that would leave the container never touches the disk.
    EXPECT_FALSE(UserDefaults(u"../escape"_s).isPersistent());
}

namespace {

void writeJunk(const QString& path, qsizetype size)
{
    QByteArray junk(size, '\0');
    for (auto& c : junk)
        c = char(QRandomGenerator::global()->bounded(256));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(junk);
}

// Writes `bytes` as the raw stored value of `key`, past every check of the suite.
void storeRaw(const QString& path, const QString& key, const QByteArray& bytes)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO defaults (key, value) VALUES (?1, ?2)",
                  -1, &stmt, nullptr),
        SQLITE_OK);
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 2, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

} // namespace

// One process finds the file damaged and starts anew while another has it open: both must go
// on writing one and the same store.
TEST(UserDefaults, AProcessThatHadTheDamagedFileOpenWritesIntoTheNewOne)
{
    auto other = startHelper({ u"set-twice"_s, suite, u"k"_s });
    ASSERT_EQ(readLine(*other), u"ready"_s);
    const QString path = databasePath(suite);
    writeJunk(path, 64 * 1024);
    QFile::remove(path + u"-wal"_s);
    QFile::remove(path + u"-shm"_s);

    UserDefaults here(suite);
    ASSERT_TRUE(here.isPersistent());
    EXPECT_TRUE(QFile::exists(path + u".corrupt"_s));
    ASSERT_EQ(here.set(u"peer"_s, u"from here"_s), UserDefaults::Outcome::Done);
    other->write("go\n");
    EXPECT_EQ(readLine(*other), u"from here"_s);
    ASSERT_TRUE(finishedOk(*other));
    EXPECT_EQ(here.string(u"k"_s), u"second"_s);
}

// A stopped process holding the write lock: the change waits, is kept, and lands once the lock
// is free, after the changes kept before it.
TEST(UserDefaults, AChangeThatCannotGetTheLockIsKeptAndWrittenLaterInOrder)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"list"_s, QVariantList { u"start"_s }), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);

    EXPECT_EQ(defaults.set(u"plain"_s, 7), UserDefaults::Outcome::Kept);
    std::optional<bool> landed;
    const auto outcome = defaults.updateOrKeep(
        u"list"_s,
        [](const std::optional<QVariant>& current) {
            QVariantList list = current.value_or(QVariant()).toList();
            list.append(u"kept"_s);
            return std::optional<QVariant>(QVariant(list));
        },
        [&](bool written) { landed = written; });
    EXPECT_EQ(outcome, UserDefaults::Outcome::Kept);
    EXPECT_EQ(defaults.keptChanges(), 2);
    EXPECT_FALSE(defaults.retryKeptChanges());
    EXPECT_FALSE(defaults.value(u"plain"_s).isValid());

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(5)));
    EXPECT_EQ(defaults.keptChanges(), 0);
    EXPECT_EQ(landed, true);
    EXPECT_EQ(defaults.integer(u"plain"_s), 7);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"kept"_s }));
    EXPECT_EQ(defaults.string(u"held"_s), u"by helper"_s);
}

TEST(UserDefaults, AChangeStillKeptWhenTheProcessEndsIsWrittenThen)
{
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    auto keeper = startHelper({ u"keep-at-exit"_s, suite, u"late"_s, u"kept"_s });
    ASSERT_EQ(readLine(*keeper), u"kept"_s);
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    keeper->write("end\n");
    ASSERT_TRUE(finishedOk(*keeper));
    EXPECT_EQ(UserDefaults(suite).string(u"late"_s), u"kept"_s);
}

// The lock never came before the end: the change is left in the journal, the log says which, and
// the next opening of the suite writes it.
TEST(UserDefaults, AChangeThatCannotBeWrittenBeforeTheEndIsLeftForTheNextOpening)
{
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    QProcess keeper;
    keeper.setProgram(TestSupport::helperPath(u"store_helper"_s));
    keeper.setArguments({ u"keep-at-exit"_s, suite, u"late"_s, u"kept"_s, u"300"_s });
    keeper.start();
    ASSERT_EQ(readLine(keeper), u"kept"_s);
    keeper.write("end\n");
    ASSERT_TRUE(finishedOk(keeper));
    const QString log = QString::fromUtf8(keeper.readAllStandardError());
    EXPECT_TRUE(log.contains(u"left for its next opening"_s) && log.contains(u"late"_s))
        << log.toStdString();

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    UserDefaults next(suite);
    EXPECT_TRUE(next.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(next.string(u"late"_s), u"kept"_s);
}

// The file another process put in place could not be opened at the first try: the suite opens
// it at a later use instead of staying closed.
TEST(UserDefaults, AReplacedFileThatCannotBeOpenedAtOnceIsOpenedLater)
{
    UserDefaults here(suite);
    ASSERT_EQ(here.set(u"k"_s, 1), UserDefaults::Outcome::Done);
    const QString path = databasePath(suite);
    ASSERT_TRUE(QFile::rename(path, path + u".old"_s));
    QFile::remove(path + u"-wal"_s);
    QFile::remove(path + u"-shm"_s);
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_FALSE(here.value(u"k"_s).isValid());
    EXPECT_NE(here.set(u"k"_s, 2), UserDefaults::Outcome::Done);
    ASSERT_TRUE(QDir().rmdir(path));
    EXPECT_EQ(here.set(u"k"_s, 3), UserDefaults::Outcome::Done);
    EXPECT_EQ(here.integer(u"k"_s), 3);
}

// A change kept while another process held the lock stays kept while the replaced file cannot
// be opened, and lands once it can.
TEST(UserDefaults, AKeptChangeWaitsForAReplacedFileThatCannotBeOpenedYet)
{
    WaitLimit limit(150);
    UserDefaults here(suite);
    ASSERT_EQ(here.set(u"k"_s, 1), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    EXPECT_EQ(here.set(u"k"_s, 2), UserDefaults::Outcome::Kept);
    ASSERT_EQ(here.keptChanges(), 1);

    const QString path = databasePath(suite);
    ASSERT_TRUE(QFile::rename(path, path + u".old"_s));
    QFile::remove(path + u"-wal"_s);
    QFile::remove(path + u"-shm"_s);
    ASSERT_TRUE(QDir().mkdir(path));
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_FALSE(here.retryKeptChanges(std::chrono::seconds(5)));
    EXPECT_EQ(here.keptChanges(), 1);

    ASSERT_TRUE(QDir().rmdir(path));
    EXPECT_TRUE(here.retryKeptChanges(std::chrono::seconds(5)));
    EXPECT_EQ(here.integer(u"k"_s), 2);
}

TEST(UserDefaults, ThreeProcessesMakingFiveHundredAdditionsEachLoseNone)
{
    constexpr int count = 500;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const QString& prefix : { u"a"_s, u"b"_s, u"c"_s })
        writers.push_back(
            startHelper({ u"append"_s, suite, u"list"_s, prefix, QString::number(count) }));
    // 1,500 rewrites of a growing list take a minute and more under the sanitizers beside a
    // loaded suite; the bound is there to end a hang, not to time the writers.
    for (auto& writer : writers)
        EXPECT_TRUE(finishedOk(*writer, 110'000));
    QSet<QString> entries;
    for (const QVariant& v : UserDefaults(suite).array(u"list"_s).value_or(QVariantList()))
        entries.insert(v.toString());
    EXPECT_EQ(entries.size(), 3 * count);
}

// A writer that takes the lock again the moment it lets it go must not starve the others.
TEST(UserDefaults, AWriterThatNeverPausesCannotStarveAnother)
{
    WaitLimit limit(3000);
    auto hog = startHelper({ u"hog"_s, suite, u"big"_s });
    ASSERT_EQ(readLine(*hog), u"running"_s);
    UserDefaults defaults(suite);
    // A worker's wait: the main thread's never lasts long enough to matter here.
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(defaults.update(u"n"_s,
                [](const std::optional<QVariant>& current) {
                    return std::optional<QVariant>(
                        QVariant(current.value_or(QVariant(0)).toLongLong() + 1));
                }))
                << "change " << i;
        }
    });
    worker.join();
    EXPECT_EQ(defaults.integer(u"n"_s), 20);
    hog->kill();
    hog->waitForFinished(10000);
}

TEST(UserDefaults, AnUndecodableStoredValueIsKeptAsideBeforeItIsWrittenOver)
{
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"a"_s, QVariantList { 1, 2 }), UserDefaults::Outcome::Done);
    ASSERT_EQ(defaults.set(u"b"_s, 1), UserDefaults::Outcome::Done);
    const QByteArray damaged("\x9f\x01\x02\xff\xff\x00", 6);
    storeRaw(databasePath(suite), u"a"_s, damaged);
    storeRaw(databasePath(suite), u"b"_s, damaged);

    EXPECT_FALSE(defaults.value(u"a"_s).isValid());
    ASSERT_TRUE(defaults.update(u"a"_s, [](const std::optional<QVariant>& current) {
        return std::optional<QVariant>(QVariant(current.value_or(QVariant()).toList() << 3));
    }));
    ASSERT_EQ(defaults.set(u"b"_s, 2), UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.array(u"a"_s), QVariantList { 3 });
    EXPECT_EQ(defaults.keptAside(u"a"_s), std::vector<QByteArray> { damaged });
    EXPECT_EQ(defaults.keptAside(u"b"_s), std::vector<QByteArray> { damaged });
    // Readable values are not kept twice.
    ASSERT_EQ(defaults.set(u"b"_s, 3), UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.keptAside(u"b"_s).size(), 1u);

    // Stored archives are byte strings, told sound from their head: one whose head claims more
    // or fewer bytes than follow is damaged all the same.
    const QByteArray longer("\x43"
                            "abcd",
        5);
    const QByteArray shorter("\x5a\x00\x00\x10\x00"
                             "abc",
        8);
    for (const QByteArray& bytes : { longer, shorter }) {
        ASSERT_EQ(defaults.set(u"c"_s, QByteArray("sound")), UserDefaults::Outcome::Done);
        ASSERT_EQ(defaults.set(u"c"_s, QByteArray("replaced")), UserDefaults::Outcome::Done);
        storeRaw(databasePath(suite), u"c"_s, bytes);
        ASSERT_EQ(defaults.set(u"c"_s, QByteArray("over the damage")), UserDefaults::Outcome::Done);
    }
    EXPECT_EQ(defaults.keptAside(u"c"_s), (std::vector<QByteArray> { longer, shorter }));
    EXPECT_EQ(defaults.data(u"c"_s), QByteArray("over the damage"));
}

// A value written over one this process wrote last is not read first to tell whether it was
// damaged: nobody wrote it since. Once another writer has written it, damaged or not, it is read,
// and a damaged one kept aside as ever.
TEST(UserDefaults, AValueThisProcessWroteLastIsNotReadBeforeItIsWrittenOver)
{
    UserDefaults defaults(suite);
    const QByteArray list(256 * 1024, 'l');
    ASSERT_EQ(defaults.set(u"list"_s, list), UserDefaults::Outcome::Done);
    const int before = UserDefaultsTesting::storedValuesReadForDamage();
    ASSERT_TRUE(defaults.update(u"list"_s, [&](const std::optional<QVariant>&) {
        return std::optional<QVariant>(QVariant(list + "updated"));
    }));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(
            defaults.set(u"list"_s, list + QByteArray::number(i)), UserDefaults::Outcome::Done);
    EXPECT_EQ(UserDefaultsTesting::storedValuesReadForDamage() - before, 0);

    storeRaw(databasePath(suite), u"list"_s, QByteArray("\x45sound", 6));
    ASSERT_EQ(defaults.set(u"list"_s, list), UserDefaults::Outcome::Done);
    EXPECT_EQ(UserDefaultsTesting::storedValuesReadForDamage() - before, 1);
    EXPECT_TRUE(defaults.keptAside(u"list"_s).empty());

    const QByteArray damaged("\x9f\x01\x02\xff\xff\x00", 6);
    storeRaw(databasePath(suite), u"list"_s, damaged);
    ASSERT_EQ(defaults.set(u"list"_s, list), UserDefaults::Outcome::Done);
    EXPECT_EQ(UserDefaultsTesting::storedValuesReadForDamage() - before, 2);
    EXPECT_EQ(defaults.keptAside(u"list"_s), std::vector<QByteArray> { damaged });
    EXPECT_EQ(defaults.data(u"list"_s), list);
}

// A readable file that cannot be written shows its values and refuses changes, whether the
// file or its folder is locked.
TEST(UserDefaults, ASuiteThatCannotBeWrittenIsReadOnlyWithItsValuesVisible)
{
    auto writer = startHelper({ u"hold"_s, suite, u"k"_s, u"stored"_s });
    ASSERT_EQ(readLine(*writer), u"holding"_s);
    writer->write("go\n");
    ASSERT_TRUE(finishedOk(*writer));
    const QString path = databasePath(suite);
    const QString folder = QFileInfo(path).path();
    ASSERT_FALSE(QFile::exists(path + u"-wal"_s));

    const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto folderReadOnly = readOnly | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    const auto folderWritable = folderReadOnly | QFile::WriteOwner;
    ASSERT_TRUE(QFile::setPermissions(path, readOnly));
    for (const bool lockFolder : { false, true }) {
        ASSERT_TRUE(QFile::setPermissions(folder, lockFolder ? folderReadOnly : folderWritable));
        auto probe = startHelper({ u"read-only-probe"_s, suite, u"k"_s });
        EXPECT_EQ(readLine(*probe), u"0 1 stored 0"_s) << "folder locked: " << lockFolder;
        EXPECT_TRUE(finishedOk(*probe));
    }
    QFile::setPermissions(folder, folderWritable);
    QFile::setPermissions(path, readOnly | QFile::WriteOwner);
    EXPECT_EQ(UserDefaults(suite).string(u"k"_s), u"stored"_s);
}

// Reading history, stories and the user's identifier are the user's alone: a new container is
// made so, and one made before with the umask's modes is made so when it is opened.
TEST(UserDefaults, TheContainerAndItsFilesAreTheOwnersAlone)
{
    const QString path = databasePath(suite);
    const QString preferences = QFileInfo(path).path();
    const QString container = QFileInfo(preferences).path();
    const QStringList folders { container, preferences };
    const QStringList files { path, path + u"-wal"_s, path + u"-shm"_s, path + u".lock"_s };
    const auto sharedBits = [](const QString& each) {
        struct stat st { };
        return ::stat(QFile::encodeName(each).constData(), &st) == 0 ? int(st.st_mode & 077) : -1;
    };
    const auto expectPrivate = [&](const char* when) {
        for (const QString& each : folders + files)
            EXPECT_EQ(sharedBits(each), 0) << when << ": " << each.toStdString();
    };
    {
        UserDefaults defaults(suite);
        ASSERT_EQ(defaults.set(u"k"_s, 1), UserDefaults::Outcome::Done);
    }
    expectPrivate("made new");

    for (const QString& each : folders)
        ASSERT_EQ(::chmod(QFile::encodeName(each).constData(), 0755), 0);
    for (const QString& each : files)
        ASSERT_EQ(::chmod(QFile::encodeName(each).constData(), 0644), 0);
    auto other = startHelper({ u"increment"_s, suite, u"k"_s, u"1"_s });
    ASSERT_TRUE(finishedOk(*other));
    expectPrivate("made before");
    EXPECT_EQ(UserDefaults(suite).integer(u"k"_s), 2);
}

TEST(UserDefaults, AnEmptyFileOrAnUnusableContainerIsLoggedPlainly)
{
    TestSupport::LogCollector log;
    const QString path = databasePath(suite);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    writeJunk(path, 0);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(
            QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    UserDefaults defaults(suite);
    EXPECT_TRUE(defaults.isPersistent());
    EXPECT_TRUE(log.text().contains(u"empty database file"_s)) << log.text().toStdString();

    EXPECT_FALSE(UserDefaults(u"../nowhere"_s).isPersistent());
    EXPECT_TRUE(log.text().contains(u"no usable group container"_s)) << log.text().toStdString();
    EXPECT_FALSE(log.text().contains(u"not an error"_s));
}

TEST(UserDefaults, TheWriteAheadLogShrinksBackAfterALargeWrite)
{
    UserDefaults defaults(suite);
    ASSERT_EQ(
        defaults.set(u"big"_s, QByteArray(24 * 1024 * 1024, 'x')), UserDefaults::Outcome::Done);
    ASSERT_EQ(defaults.remove(u"big"_s), UserDefaults::Outcome::Done);
    // Enough small commits to pass the checkpoint mark and start the log over.
    for (int i = 0; i < 1200; ++i)
        ASSERT_EQ(defaults.set(u"n"_s, i), UserDefaults::Outcome::Done);
    EXPECT_LE(QFileInfo(databasePath(suite) + u"-wal"_s).size(), 8 * 1024 * 1024);
}

// Data is read straight out of its stored byte string: every width of its head, the shortest or
// not, reads back whole, and a head that claims more or fewer bytes than follow reads as nothing.
TEST(UserDefaults, DataOfEveryHeadWidthReadsBackWholeAndDamagedDataAsNothing)
{
    UserDefaults defaults(suite);
    for (const qsizetype size : { 0, 23, 24, 255, 256, 65535, 65536, 3 * 1024 * 1024 }) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + size);
        ASSERT_EQ(defaults.set(u"data"_s, bytes), UserDefaults::Outcome::Done);
        EXPECT_EQ(defaults.data(u"data"_s), bytes) << size;
    }
    const std::pair<QByteArray, QVariant> stored[] = {
        { QByteArray("\x59\x00\x03"
                     "abc",
              6),
            QVariant(QByteArray("abc")) },
        { QByteArray("\x5a\x00\x00\x00\x02"
                     "ab",
              7),
            QVariant(QByteArray("ab")) },
        { QByteArray("\x5b\x00\x00\x00\x00\x00\x00\x00\x01"
                     "a",
              10),
            QVariant(QByteArray("a")) },
        { QByteArray("\x43"
                     "abcd",
              5),
            QVariant() },
        { QByteArray("\x58\x05"
                     "abc",
              5),
            QVariant() },
        { QByteArray("\x82\x41"
                     "a"
                     "\x41"
                     "b",
              5),
            QVariant(QVariantList { QByteArray("a"), QByteArray("b") }) },
    };
    for (const auto& [raw, expected] : stored) {
        storeRaw(databasePath(suite), u"raw"_s, raw);
        EXPECT_EQ(defaults.value(u"raw"_s), expected) << raw.toHex().constData();
    }
}

// A stored value past what is ever read is refused from its length, with a line in the log, and
// a change of its key keeps it aside before writing over it.
TEST(UserDefaults, AValuePastTheReadBoundReadsAsNothingWithOneLogLineAndIsKeptAsideWhenChanged)
{
    struct Bound {
        Bound() { UserDefaults::setMaxValueSizeForTesting(1024 * 1024); }
        ~Bound() { UserDefaults::setMaxValueSizeForTesting(0); }
    } bound;
    UserDefaults defaults(suite);
    ASSERT_EQ(
        defaults.set(u"huge"_s, QByteArray(1024 * 1024 + 1, 'h')), UserDefaults::Outcome::Done);
    ASSERT_EQ(
        defaults.set(u"data"_s, QByteArray(1024 * 1024 - 5, 'd')), UserDefaults::Outcome::Done);
    {
        TestSupport::LogCollector log;
        EXPECT_FALSE(defaults.value(u"huge"_s).isValid());
        EXPECT_EQ(defaults.data(u"data"_s), QByteArray(1024 * 1024 - 5, 'd'));
        EXPECT_EQ(log.count(u"a value is read up to"_s), 1) << log.text().toStdString();
    }
    ASSERT_TRUE(defaults.update(u"huge"_s, [](const std::optional<QVariant>& current) {
        return std::optional<QVariant>(QVariant(current ? u"read"_s : u"replaced"_s));
    }));
    EXPECT_EQ(defaults.string(u"huge"_s), u"replaced"_s);
    const auto aside = defaults.keptAside(u"huge"_s);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(aside[0].size(), 1024 * 1024 + 6);
}

namespace {

// The raw stored bytes of `key`, or nothing; and how often the file counted a write of it.
std::optional<QByteArray> rawStored(const QString& key, const char* sql)
{
    sqlite3* db = nullptr;
    std::optional<QByteArray> result;
    if (sqlite3_open(databasePath(suite).toUtf8().constData(), &db) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
            const QByteArray k = key.toUtf8();
            sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(stmt) == SQLITE_ROW)
                result = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                    sqlite3_column_bytes(stmt, 0));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

std::optional<QByteArray> storedValue(const QString& key)
{
    return rawStored(key, "SELECT value FROM defaults WHERE key = ?1");
}

qint64 countedWrites(const QString& key)
{
    const auto count = rawStored(key, "SELECT CAST(count AS TEXT) FROM key_writes WHERE key = ?1");
    return count ? count->toLongLong() : 0;
}

} // namespace

// Data put straight into the store's form is stored as the very bytes data given as a value
// is, for every width of its head; one that does not hold the length it began with is refused
// with the values beside it, and what was stored stays.
TEST(UserDefaults, DataBegunForTheStoreIsStoredAsDataGivenAsAValue)
{
    UserDefaults defaults(suite);
    for (const qsizetype size : { 0, 23, 24, 255, 256, 65535, 65536, 1024 * 1024 }) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(i * 13 + size);
        ASSERT_EQ(defaults.set(u"given"_s, bytes), UserDefaults::Outcome::Done);
        QByteArray begun = UserDefaults::startData(size);
        begun.append(bytes);
        ASSERT_EQ(defaults.setValues(
                      { { u"beside"_s, qint64(size) } }, { { u"begun"_s, std::move(begun) } }),
            UserDefaults::Outcome::Done);
        EXPECT_EQ(storedValue(u"begun"_s), storedValue(u"given"_s)) << size;
        EXPECT_EQ(defaults.data(u"begun"_s), bytes) << size;
        EXPECT_EQ(defaults.integer(u"beside"_s), size);
    }
    const QByteArray kept = *defaults.data(u"begun"_s);
    QByteArray shortOne = UserDefaults::startData(10);
    shortOne.append("123456789");
    QByteArray longOne = UserDefaults::startData(10);
    longOne.append("12345678901");
    for (QByteArray wrong : { shortOne, longOne, QByteArray(), QByteArray("abc") }) {
        EXPECT_EQ(defaults.setValues({ { u"beside"_s, -1 } }, { { u"begun"_s, wrong } }),
            UserDefaults::Outcome::Failed)
            << wrong.toHex().constData();
        EXPECT_EQ(defaults.data(u"begun"_s), kept);
        EXPECT_NE(defaults.integer(u"beside"_s), -1);
    }
}

// The file counts every write of a key, a new one, a replaced one and a removal alike, so that a
// change kept in another process can tell its value was overtaken; a write that changed nothing
// is not counted.
TEST(UserDefaults, EveryWriteOfAKeyIsCountedOnce)
{
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"k"_s, u"one"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(countedWrites(u"k"_s), 1);
    ASSERT_EQ(defaults.set(u"k"_s, u"two"_s), UserDefaults::Outcome::Done);
    ASSERT_EQ(defaults.set(u"k"_s, u"two"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(countedWrites(u"k"_s), 3);
    EXPECT_TRUE(defaults.update(u"k"_s, [](const auto&) { return std::optional<QVariant>(); }));
    EXPECT_EQ(countedWrites(u"k"_s), 3);
    ASSERT_EQ(defaults.remove(u"k"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(countedWrites(u"k"_s), 4);
    ASSERT_EQ(defaults.remove(u"k"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(countedWrites(u"k"_s), 4);
    EXPECT_FALSE(storedValue(u"k"_s));
    ASSERT_EQ(defaults.set(u"k"_s, u"three"_s), UserDefaults::Outcome::Done);
    EXPECT_EQ(countedWrites(u"k"_s), 5);
    EXPECT_EQ(defaults.string(u"k"_s), u"three"_s);
    EXPECT_EQ(countedWrites(u"other"_s), 0);
}

// The changes a suite keeps while another program holds it, and what the window's thread waits.

#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/UserDefaultsTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <signal.h>

#include <sqlite3.h>

#include <condition_variable>
#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;

namespace {

const QString suite = u"kept.suite"_s;

UserDefaults::Updater appending(const QString& entry)
{
    return [entry](const std::optional<QVariant>& current) {
        QVariantList list = current.value_or(QVariant()).toList();
        list.append(entry);
        return std::optional<QVariant>(QVariant(list));
    };
}

// Another program holding the write lock inside a change of `key` until release().
struct Holder {
    std::unique_ptr<QProcess> process;
    explicit Holder(const QString& key, const QString& value = u"by helper"_s)
        : process(startHelper({ u"hold"_s, suite, key, value }))
    {
        EXPECT_EQ(readLine(*process), u"holding"_s);
    }
    void release()
    {
        process->write("go\n");
        EXPECT_TRUE(finishedOk(*process));
    }
};

} // namespace

// Programs adding hundreds of entries to one list at once keep what waits, and quit together:
// every kept change is written on the way out. Their exit wait is bounded far above need, so a
// busy machine loses nothing here; how long the exits take is measured by store_exit_bench.
TEST(UserDefaultsKept, ProgramsKeepingHundredsOfChangesWriteEveryOneWhenTheyQuit)
{
    constexpr int count = 500;
    for (int round = 0; round < 2; ++round) {
        for (const int programs : { 3, 2 }) {
            const QString key = u"list-%1-%2"_s.arg(round).arg(programs);
            std::vector<std::unique_ptr<QProcess>> writers;
            for (int p = 0; p < programs; ++p) {
                writers.push_back(startHelper({ u"append-keeping"_s, suite, key,
                    QString(QChar(u'a' + p)), QString::number(count), u"60000"_s }));
            }
            for (auto& writer : writers)
                EXPECT_TRUE(finishedOk(*writer, 120000));
            QSet<QString> entries;
            for (const QVariant& v : UserDefaults(suite).array(key).value_or(QVariantList()))
                entries.insert(v.toString());
            EXPECT_EQ(entries.size(), programs * count)
                << "round " << round << ", " << programs << " programs";
        }
    }
}

// A stuck peer: twenty refreshes keep one value, the last; and a kept value made before the
// peer's own write of that key gives way to it.
TEST(UserDefaultsKept, AKeyKeepsOneValueAndNeverWritesOverAPeersNewerOne)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    TestSupport::LogCollector log;
    {
        Holder holder(u"held"_s);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(defaults.set(u"stories"_s, QByteArray(256 * 1024, char('a' + i))),
                UserDefaults::Outcome::Kept);
        EXPECT_EQ(defaults.keptChanges(), 1);
        holder.release();
    }
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(5)));
    EXPECT_EQ(defaults.data(u"stories"_s), QByteArray(256 * 1024, char('a' + 19)));

    Holder peer(u"list"_s, u"the peer's"_s);
    EXPECT_EQ(defaults.set(u"list"_s, u"made before"_s), UserDefaults::Outcome::Kept);
    peer.release();
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(5)));
    EXPECT_EQ(defaults.string(u"list"_s), u"the peer's"_s);
    EXPECT_EQ(log.count(u"was dropped"_s), 1) << log.text().toStdString();
}

// Another SQLite client holding the whole database (as backup tools do): a removal on the main
// thread is kept while its timer goes on firing, and lands once the database is free.
TEST(UserDefaultsKept, AnotherClientHoldingTheDatabaseDoesNotHoldUpTheMainThread)
{
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"gone"_s, 1), UserDefaults::Outcome::Done);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(databasePath(suite).toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    UserDefaultsTesting::resetLockWaits();
    int ticks = 0;
    std::optional<UserDefaults::Outcome> removed;
    int kept = 0;
    QTimer timer;
    timer.setInterval(16);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (++ticks == 1) {
            removed = defaults.remove(u"gone"_s);
            kept = defaults.keptChanges();
        }
    });
    timer.start();
    EXPECT_TRUE(TestSupport::waitFor([&] { return ticks >= 20; }));
    EXPECT_EQ(removed, UserDefaults::Outcome::Kept);
    EXPECT_EQ(kept, 1);
    // SQLite's own wait for the other client ended within a frame or two.
    const auto waits = UserDefaultsTesting::lockWaits();
    EXPECT_EQ(waits.ranOut, 1);
    EXPECT_LE(waits.longestAllowedMs, 50);
    EXPECT_EQ(defaults.integer(u"gone"_s), 1);

    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    // The count falls once the landing is told, after the commit a reader may already see.
    EXPECT_TRUE(TestSupport::waitFor([&] { return defaults.keptChanges() == 0; }));
    EXPECT_FALSE(defaults.value(u"gone"_s).isValid());
}

// A worker inside a change (its lock wait or its transaction) does not hold up a read.
TEST(UserDefaultsKept, AReadDoesNotWaitForAnotherThreadsChange)
{
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"other"_s, 5), UserDefaults::Outcome::Done);
    std::mutex mutex;
    std::condition_variable cv;
    bool inside = false;
    bool readDone = false;
    bool sawRead = false;
    std::thread worker([&] {
        defaults.update(u"k"_s, [&](const std::optional<QVariant>&) {
            std::unique_lock lock(mutex);
            inside = true;
            cv.notify_all();
            sawRead = cv.wait_for(lock, std::chrono::seconds(10), [&] { return readDone; });
            return std::optional<QVariant>(QVariant(1));
        });
    });
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return inside; });
    }
    EXPECT_EQ(defaults.integer(u"other"_s), 5);
    EXPECT_FALSE(defaults.value(u"k"_s).isValid());
    {
        std::lock_guard lock(mutex);
        readDone = true;
        cv.notify_all();
    }
    worker.join();
    EXPECT_TRUE(sawRead);
    EXPECT_EQ(defaults.integer(u"k"_s), 1);
}

// A peer stopped while it keeps changes of its own does not hold the writers' turn.
TEST(UserDefaultsKept, AStoppedPeerKeepingChangesDoesNotHoldUpOurWrites)
{
    WaitLimit limit(5000);
    Holder holder(u"held"_s);
    auto keeper = startHelper({ u"keep-and-retry"_s, suite, u"peer"_s, u"kept"_s });
    ASSERT_EQ(readLine(*keeper), u"kept"_s);
    ASSERT_EQ(readLine(*keeper), u"retried"_s);
    ::kill(pid_t(keeper->processId()), SIGSTOP);
    holder.release();

    UserDefaults defaults(suite);
    auto written = UserDefaults::Outcome::Failed;
    std::thread worker([&] { written = defaults.set(u"mine"_s, 1); });
    worker.join();
    ::kill(pid_t(keeper->processId()), SIGCONT);
    EXPECT_EQ(written, UserDefaults::Outcome::Done);
    EXPECT_TRUE(TestSupport::waitFor([&] { return defaults.string(u"peer"_s) == u"kept"_s; }));
    keeper->kill();
    keeper->waitForFinished(10000);
}

// Once a change is kept, a new one still waits as the first did: a worker's change made while
// the lock is still taken is written, after the backlog, once the lock comes within its wait.
// Said once in the log when keeping starts and once when all are written. The main thread never
// waits the full limit, not even for a change that cannot be kept.
TEST(UserDefaultsKept, ANewChangeWaitsAsTheFirstDidThoughSomethingIsKept)
{
    UserDefaults defaults(suite);
    TestSupport::LogCollector log;
    Holder holder(u"held"_s);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(defaults.updateOrKeep(u"list"_s, appending(QString::number(i))),
            UserDefaults::Outcome::Kept);
    UserDefaultsTesting::resetLockWaits();
    {
        WaitLimit longer(30000);
        EXPECT_FALSE(defaults.update(u"other"_s,
            [](const std::optional<QVariant>&) { return std::optional<QVariant>(QVariant(1)); }));
    }
    EXPECT_EQ(log.count(u"are kept until"_s), 1) << log.text().toStdString();
    auto waits = UserDefaultsTesting::lockWaits();
    EXPECT_EQ(waits.ranOut, 1);
    // A frame or two, however long the limit.
    EXPECT_GT(waits.longestAllowedMs, 0);
    EXPECT_LE(waits.longestAllowedMs, 50);

    auto written = UserDefaults::Outcome::Failed;
    std::thread worker([&] { written = defaults.updateOrKeep(u"list"_s, appending(u"3"_s)); });
    holder.release();
    worker.join();
    EXPECT_EQ(written, UserDefaults::Outcome::Done);
    EXPECT_EQ(defaults.keptChanges(), 0);
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"0"_s, u"1"_s, u"2"_s, u"3"_s }));
    EXPECT_EQ(log.count(u"3 kept changes were written"_s), 1) << log.text().toStdString();
}

// Quitting while a worker's change waits for the lock: it is kept at once, and the program's
// exit writes it.
TEST(UserDefaultsKept, AChangeWaitingOnAWorkerWhenTheProgramQuitsIsKeptAndWritten)
{
    Holder holder(u"held"_s);
    auto quitter = startHelper(
        { u"quit-while-waiting"_s, suite, u"late"_s, u"written"_s }, QProcess::SeparateChannels);
    ASSERT_EQ(readLine(*quitter), u"waiting"_s);
    quitter->write("end\n");
    QString log;
    EXPECT_TRUE(TestSupport::waitFor([&] {
        quitter->waitForReadyRead(10);
        log += QString::fromUtf8(quitter->readAllStandardError());
        return log.contains(u"are kept until"_s);
    })) << log.toStdString();
    holder.release();
    EXPECT_TRUE(finishedOk(*quitter));
    EXPECT_EQ(UserDefaults(suite).string(u"late"_s), u"written"_s);
}

// A backlog given up at the end is one line in the log, with its count and its key, however
// many changes it holds.
TEST(UserDefaultsKept, ABacklogGivenUpAtTheEndIsOneLineWithItsCountAndKey)
{
    Holder holder(u"held"_s);
    auto writer
        = startHelper({ u"append-keeping"_s, suite, u"backlog"_s, u"b"_s, u"200"_s, u"300"_s },
            QProcess::SeparateChannels);
    EXPECT_TRUE(finishedOk(*writer, 120000));
    const QStringList lines = QString::fromUtf8(writer->readAllStandardError())
                                  .split(u'\n')
                                  .filter(u"could not be written"_s);
    ASSERT_EQ(lines.size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.first().contains(u"200 changes"_s)) << lines.first().toStdString();
    EXPECT_TRUE(lines.first().contains(u"backlog"_s)) << lines.first().toStdString();
    holder.release();
}

// A kept whole value gives way to a peer's newer whole value only: a peer's update of the key
// (one story's picture stored into the older list) leaves it to be written. The log counts each
// key's value of a change apart, so a change partly dropped is not counted as less than none.
TEST(UserDefaultsKept, AKeptWholeValueGivesWayOnlyToANewerWholeValueAndTheLogCountsRight)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    {
        TestSupport::LogCollector log;
        Holder holder(u"held"_s);
        EXPECT_EQ(defaults.set(u"stories"_s, u"the newer list"_s), UserDefaults::Outcome::Kept);
        holder.release();
        auto peer = startHelper({ u"append"_s, suite, u"stories"_s, u"picture"_s, u"1"_s });
        ASSERT_TRUE(finishedOk(*peer));
        EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(5)));
        EXPECT_EQ(defaults.string(u"stories"_s), u"the newer list"_s);
        EXPECT_EQ(log.count(u"was dropped"_s), 0) << log.text().toStdString();
        EXPECT_EQ(log.count(u": 1 kept changes were written"_s), 1) << log.text().toStdString();
    }
    {
        TestSupport::LogCollector log;
        // The peer sets its value whole as it lets go, after ours were kept.
        Holder peer(u"a"_s, u"the peer's"_s);
        EXPECT_EQ(
            defaults.setValues({ { u"a"_s, 1 }, { u"b"_s, 1 } }), UserDefaults::Outcome::Kept);
        peer.release();
        EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(5)));
        EXPECT_EQ(defaults.string(u"a"_s), u"the peer's"_s);
        EXPECT_EQ(defaults.integer(u"b"_s), 1);
        EXPECT_EQ(log.count(u"was dropped"_s), 1) << log.text().toStdString();
        EXPECT_EQ(log.count(u": 1 kept changes were written, 1 dropped"_s), 1)
            << log.text().toStdString();
    }
}

// A backlog kept on the main thread is written by the retry on a worker, never on the window's
// thread, and its end is told all the same.
TEST(UserDefaultsKept, TheRetryWritesTheBacklogOffTheMainThread)
{
    UserDefaults defaults(suite);
    Holder holder(u"held"_s);
    std::atomic<int> onMain { 0 };
    std::atomic<int> elsewhere { 0 };
    std::atomic<bool> landed { false };
    EXPECT_EQ(defaults.updateOrKeep(
                  u"late"_s,
                  [&](const std::optional<QVariant>&) {
                      ++(QThread::currentThread() == QCoreApplication::instance()->thread()
                              ? onMain
                              : elsewhere);
                      return std::optional<QVariant>(QVariant(u"written"_s));
                  },
                  [&](bool written) { landed = written; }),
        UserDefaults::Outcome::Kept);
    holder.release();
    EXPECT_TRUE(TestSupport::waitFor([&] { return landed.load(); }, 20000));
    EXPECT_EQ(defaults.string(u"late"_s), u"written"_s);
    EXPECT_EQ(onMain.load(), 0);
    EXPECT_EQ(elsewhere.load(), 1);
}

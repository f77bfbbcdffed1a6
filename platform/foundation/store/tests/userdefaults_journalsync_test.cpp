// What reaches the disk, counted rather than timed: the commit that writes kept changes is synced
// before their journal goes, and a kept change's own sync leaves the calling thread free.

#include "platform/foundation/store/KeptJournal_p.h"
#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/tests/JournalTestSupport.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <thread>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;
using namespace JournalTest;

namespace {

const QString suite = u"journalsync.suite"_s;

// The journal syncs of the process, by thread: every fdatasync of a file at a journal's name.
std::atomic<std::thread::id> countingThread;
std::atomic<int> journalSyncsOnThatThread { 0 };
std::atomic<int> journalSyncsElsewhere { 0 };

bool isJournal(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlink(link, target, PATH_MAX);
    return n > 0 && QByteArray(target, int(n)).contains(".kept-");
}

// SQLite's own VFS, with the syncs of write-ahead logs counted.
std::atomic<int> walSyncs { 0 };
sqlite3_vfs* unixVfs = nullptr;

struct CountedFile {
    sqlite3_file base;
    bool wal;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<CountedFile*>(f)->real(); }

const sqlite3_io_methods countedMethods = {
    3,
    [](sqlite3_file* f) { return real(f)->pMethods->xClose(real(f)); },
    [](sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
        return real(f)->pMethods->xRead(real(f), p, n, at);
    },
    [](sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
        return real(f)->pMethods->xWrite(real(f), p, n, at);
    },
    [](sqlite3_file* f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
    [](sqlite3_file* f, int flags) {
        if (reinterpret_cast<CountedFile*>(f)->wal)
            ++walSyncs;
        return real(f)->pMethods->xSync(real(f), flags);
    },
    [](sqlite3_file* f, sqlite3_int64* size) {
        return real(f)->pMethods->xFileSize(real(f), size);
    },
    [](sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); },
    [](sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); },
    [](sqlite3_file* f, int* out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
    [](sqlite3_file* f, int op, void* arg) {
        return real(f)->pMethods->xFileControl(real(f), op, arg);
    },
    [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); },
    [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
    [](sqlite3_file* f, int region, int size, int extend, void volatile** out) {
        return real(f)->pMethods->xShmMap(real(f), region, size, extend, out);
    },
    [](sqlite3_file* f, int offset, int n, int flags) {
        return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
    },
    [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); },
    [](sqlite3_file* f, int remove) { return real(f)->pMethods->xShmUnmap(real(f), remove); },
    [](sqlite3_file* f, sqlite3_int64 at, int n, void** out) {
        return real(f)->pMethods->xFetch(real(f), at, n, out);
    },
    [](sqlite3_file* f, sqlite3_int64 at, void* p) {
        return real(f)->pMethods->xUnfetch(real(f), at, p);
    },
};

sqlite3_vfs countedVfs;

// Made the default before the suite is opened; left in place, as open connections use it.
void countWalSyncs()
{
    static const bool registered = [] {
        sqlite3_initialize();
        unixVfs = sqlite3_vfs_find(nullptr);
        countedVfs = *unixVfs;
        countedVfs.zName = "counted";
        countedVfs.szOsFile = int(sizeof(CountedFile)) + unixVfs->szOsFile;
        countedVfs.xOpen
            = [](sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
                  auto* counted = reinterpret_cast<CountedFile*>(f);
                  counted->wal = (flags & SQLITE_OPEN_WAL) != 0;
                  const int rc = unixVfs->xOpen(unixVfs, name, counted->real(), flags, outFlags);
                  counted->base.pMethods = counted->real()->pMethods ? &countedMethods : nullptr;
                  return rc;
              };
        return sqlite3_vfs_register(&countedVfs, 1) == SQLITE_OK;
    }();
    ASSERT_TRUE(registered);
}

} // namespace

// Seen by the libraries in place of the C library's (the build hides symbols by default).
extern "C" __attribute__((visibility("default"))) int fdatasync(int fd)
{
    if (isJournal(fd))
        ++(std::this_thread::get_id() == countingThread.load() ? journalSyncsOnThatThread
                                                               : journalSyncsElsewhere);
    return int(::syscall(SYS_fdatasync, fd));
}

// The commit that writes kept changes reaches the disk before their journal is removed: SQLite
// syncs the write-ahead log for it, which it does not at every commit in WAL mode.
TEST(UserDefaultsJournalSync, KeptChangesAreCommittedWithFullSynchronisationBeforeTheirJournalGoes)
{
    countWalSyncs();
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    ASSERT_EQ(defaults.set(u"before"_s, 1), UserDefaults::Outcome::Done);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    ASSERT_EQ(defaults.set(u"value"_s, u"kept"_s), UserDefaults::Outcome::Kept);
    ASSERT_EQ(journals(suite).size(), 1);
    // Nothing of this process commits while the store is held.
    const int before = walSyncs.load();
    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));

    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.string(u"value"_s), u"kept"_s);
    EXPECT_TRUE(journalsGone(defaults));
    EXPECT_GT(walSyncs.load() - before, 0);
}

// A kept change is in its journal when the call returns (a killed process loses nothing of it);
// the sync for a power cut follows on the journal's own thread, not the caller's.
TEST(UserDefaultsJournalSync, AKeptChangeIsJournalledOnReturnAndSyncedOffTheCallingThread)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    countingThread = std::this_thread::get_id();
    journalSyncsOnThatThread = 0;
    journalSyncsElsewhere = 0;

    ASSERT_EQ(defaults.set(u"value"_s, u"kept"_s), UserDefaults::Outcome::Kept);
    const QStringList names = journals(suite);
    ASSERT_EQ(names.size(), 1);
    QFile journal(QFileInfo(databasePath(suite)).absolutePath() + u'/' + names.first());
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const auto read = KeptJournal::read(journal.readAll());
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries.front().key, u"value"_s);
    EXPECT_EQ(journalSyncsOnThatThread.load(), 0);
    EXPECT_TRUE(waitFor([] { return journalSyncsElsewhere.load() > 0; }, 30000));
    EXPECT_EQ(journalSyncsOnThatThread.load(), 0);

    holder->write("go\n");
    ASSERT_TRUE(finishedOk(*holder));
    EXPECT_TRUE(defaults.retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(defaults.string(u"value"_s), u"kept"_s);
}

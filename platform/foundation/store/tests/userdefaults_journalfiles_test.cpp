// What stands beside the suite at a journal's name, as stored data: a folder that cannot be
// listed, a journal that cannot be locked, files that are no journal, journals this program
// cannot read. None stops, slows or harms an opening.

#include "platform/foundation/store/UserDefaults.h"
#include "platform/foundation/store/tests/JournalTestSupport.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <vector>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoreTest;
using namespace JournalTest;

namespace {

const QString suite = u"journalfiles.suite"_s;

QString folder() { return QFileInfo(databasePath(suite)).absolutePath(); }

QString journalPath(const QString& name) { return databasePath(suite) + u".kept-"_s + name; }

// While it lives, the process has no descriptor free: every open fails (EMFILE).
class NoFreeDescriptors {
public:
    NoFreeDescriptors()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        int highest = 0;
        for (const QString& name : QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System))
            highest = std::max(highest, name.toInt());
        // Every hole below the highest is filled, so that the limit leaves none.
        for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0 && fd <= highest;
             fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC))
            m_fillers.push_back(fd);
        rlimit lowered = m_saved;
        lowered.rlim_cur = rlim_t(highest + 1);
        ::close(highest + 1);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~NoFreeDescriptors()
    {
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
        for (const int fd : m_fillers)
            ::close(fd);
    }
    NoFreeDescriptors(const NoFreeDescriptors&) = delete;
    NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

private:
    rlimit m_saved {};
    std::vector<int> m_fillers;
};

// A replayed change that notes the thread it ran on and whether it was told it landed.
const QString whereKind = u"test.where"_s;
std::atomic<QThread*> replayedOn { nullptr };
std::atomic<bool> replayLanded { false };

const bool whereRegistered = [] {
    UserDefaults::registerReplayer(
        whereKind, [](const QString&, const QString&, const QVariant& value) {
            return std::optional(UserDefaults::Replayed { [value](const std::optional<QVariant>&) {
                                                             replayedOn = QThread::currentThread();
                                                             return std::optional(value);
                                                         },
                {}, {}, [](bool written) { replayLanded = written; } });
        });
    return true;
}();

} // namespace

// A journal whose changes were written still stands (a crash between the commit and its removal)
// when the folder cannot be listed: once it can, the journal's written changes are still known
// as written.
TEST(UserDefaultsJournalFiles, AFolderThatCannotBeListedForgetsNoWrittenChange)
{
    WaitLimit limit(150);
    UserDefaults defaults(suite);
    writeButLeaveTheJournal(defaults);

    // A folder changed just now is looked at again.
    QFile touch(folder() + u"/touch"_s);
    ASSERT_TRUE(touch.open(QIODevice::WriteOnly));
    touch.remove();
    {
        NoFreeDescriptors none;
        defaults.retryKeptChanges();
    }
    EXPECT_TRUE(journalsGone(defaults));
    EXPECT_EQ(defaults.array(u"list"_s), (QVariantList { u"start"_s, u"once"_s }));
}

// On a file system where flock fails, a journal made is never locked: it is not left behind
// either, for every process to take for a live one.
TEST(UserDefaultsJournalFiles, AJournalThatCannotBeLockedIsNotLeft)
{
    auto holder = startHelper({ u"hold"_s, suite, u"held"_s, u"by helper"_s });
    ASSERT_EQ(readLine(*holder), u"holding"_s);
    auto keeper = startHelper({ u"keep-unlocked"_s, suite, u"value"_s, u"3"_s });
    ASSERT_EQ(readLine(*keeper), u"kept"_s);
    EXPECT_EQ(journals(suite), QStringList());
    keeper->write("end\n");
    EXPECT_TRUE(finishedOk(*keeper));
    holder->write("go\n");
    EXPECT_TRUE(finishedOk(*holder));
}

// A FIFO, links to one and to an endless device, and a journal padded past the most read stand
// at journals' names: the opening neither waits on them nor stops, and writes the sound journal
// beside them.
TEST(UserDefaultsJournalFiles, OddFilesAtAJournalsNameNeitherHoldUpNorStopTheReplay)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QByteArray fifo = QFile::encodeName(journalPath(u"fifo"_s));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.constData(), QFile::encodeName(journalPath(u"to-fifo"_s))), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(journalPath(u"to-zero"_s))), 0);
    {
        QFile padded(journalPath(u"padded"_s));
        ASSERT_TRUE(padded.open(QIODevice::WriteOnly));
        ASSERT_TRUE(padded.resize(40 * 1024 * 1024));
    }
    leaveJournal(suite, QString(32, u'a'),
        frame(1, u"value"_s, u"value"_s, plainValue(storedText("landed"))));

    auto program = startHelper({ u"replay"_s, suite, u"value"_s });
    EXPECT_EQ(readLine(*program, 60000), u"landed"_s);
    EXPECT_TRUE(finishedOk(*program));
    EXPECT_EQ(journals(suite),
        (QStringList { QFileInfo(journalPath(u"fifo"_s)).fileName(),
            QFileInfo(journalPath(u"to-fifo"_s)).fileName(),
            QFileInfo(journalPath(u"to-zero"_s)).fileName() }));
}

// The first opening finds what a run that ended left: it is written on a worker, not on the
// thread that opened the suite (the main thread at start), and told when it lands.
TEST(UserDefaultsJournalFiles, TheFirstOpeningReplaysOffTheCallingThreadAndTellsWhenItLands)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    leaveJournal(suite, QString(32, u'a'), frame(1, whereKind, u"where"_s, text(u"landed"_s)));
    UserDefaults defaults(suite);
    ASSERT_TRUE(waitFor([] { return replayLanded.load(); }, 30000));
    EXPECT_NE(replayedOn.load(), QThread::currentThread());
    EXPECT_EQ(defaults.string(u"where"_s), u"landed"_s);
    EXPECT_TRUE(journals(suite).isEmpty());
}

// Journals of kinds this program does not know, and journals it may not open, are passed over
// with one line each in the log of a process, however many there are and however often it looks.
TEST(UserDefaultsJournalFiles, JournalsOfUnknownKindsOrThatCannotBeOpenedAreSaidOnceAProcess)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    for (int i = 0; i < 5; ++i)
        leaveJournal(suite, u"unknown-%1"_s.arg(i),
            frame(char(10 + i), u"kind.nobody.knows"_s, u"list"_s, text(u"x"_s)));
    for (int i = 0; i < 2; ++i) {
        const QString name = u"closed-%1"_s.arg(i);
        leaveJournal(suite, name,
            frame(char(20 + i), u"value"_s, u"value"_s, plainValue(storedText("not for us"))));
        ASSERT_EQ(::chmod(QFile::encodeName(journalPath(name)).constData(), 0), 0);
    }

    auto program = startHelper({ u"replay"_s, suite, u"value"_s }, QProcess::SeparateChannels);
    EXPECT_EQ(readLine(*program), u"(none)"_s);
    EXPECT_TRUE(finishedOk(*program));
    const QString log = QString::fromUtf8(program->readAllStandardError());
    EXPECT_EQ(log.count(u"changes this program does not know"_s), 1) << log.toStdString();
    EXPECT_EQ(log.count(u"cannot be read as one"_s), 1) << log.toStdString();
    EXPECT_EQ(journals(suite).size(), 7);
}

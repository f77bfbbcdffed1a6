#include "data/model/Shared.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

QImage filled(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

QString iconDirectory() { return *getDataContainer() + u"/icon-data"_s; }

struct IconRecorder {
    QList<std::shared_ptr<Source>> sources;
    bool onMainThread = true;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourceIconData::iconUpdateNotification(), nullptr, [this](const Notification& n) {
            EXPECT_EQ(n.object, nullptr);
            EXPECT_EQ(n.userInfo.size(), 1);
            onMainThread = onMainThread
                && QThread::currentThread() == QCoreApplication::instance()->thread();
            sources.append(
                n.userInfo.value(SourceIconData::sourceKey()).value<std::shared_ptr<Source>>());
        });
};

} // namespace

TEST(SourceIconData, StoresTheProcessedIconAndAnnouncesTheVerySource)
{
    auto source = std::make_shared<Source>(u"News"_s, u"http://example.org/feed"_s);
    IconRecorder recorder;
    SourceIconData::setIconForSource(source, filled(300, 200, Qt::red));
    EXPECT_TRUE(recorder.sources.isEmpty());
    ASSERT_TRUE(TestSupport::waitFor([&] { return !recorder.sources.isEmpty(); }));
    TestSupport::processEvents();
    ASSERT_EQ(recorder.sources.size(), 1);
    EXPECT_EQ(recorder.sources[0], source);
    EXPECT_TRUE(recorder.onMainThread);

    const QImage icon = SourceIconData::iconForSource(*source);
    EXPECT_EQ(icon.size(), QSize(96, 96));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(icon.pixel(48, 48), QColor(Qt::red).rgba());

    // A second icon replaces the first.
    SourceIconData::setIconForSource(source, filled(50, 50, Qt::green));
    EXPECT_EQ(SourceIconData::iconForSource(*source).pixel(48, 48), QColor(Qt::green).rgba());
    TestSupport::processEvents();
}

// Which sources a person reads is theirs alone: the icon folder too, also one made before.
TEST(SourceIconData, KeepsIconsInAFolderOfTheOwnerAlone)
{
    ASSERT_TRUE(QDir().mkpath(iconDirectory()));
    for (const QString& folder : { *getDataContainer(), iconDirectory() })
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    SourceIconData::setIconForSourceLink(u"http://a/"_s, filled(20, 10, Qt::blue));
    for (const QString& folder : { *getDataContainer(), iconDirectory() }) {
        struct stat st { };
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << folder.toStdString();
    }
}

// An icon folder an earlier version left open is closed when the store opens, before any icon
// is written; icon files are the owner's alone whatever the umask, also in place of an old one.
TEST(SourceIconData, AnOldIconFolderClosesWhenTheStoreOpensAndIconsAreWrittenForTheOwnerAlone)
{
    auto mode = [](const QString& path) {
        struct stat st { };
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        return st.st_mode & 0777;
    };
    ASSERT_TRUE(QDir().mkpath(iconDirectory()));
    ASSERT_EQ(::chmod(QFile::encodeName(iconDirectory()).constData(), 0755), 0);
    ASSERT_TRUE(sharedDefaults());
    EXPECT_EQ(mode(iconDirectory()), 0700u);

    const mode_t umask = ::umask(0);
    SourceIconData::setIconForSourceLink(u"http://a/"_s, filled(20, 10, Qt::blue));
    ::umask(umask);
    const QStringList files = QDir(iconDirectory()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const QString file = QDir(iconDirectory()).filePath(files[0]);
    EXPECT_EQ(mode(file), 0600u);

    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    SourceIconData::setIconForSourceLink(u"http://a/"_s, filled(20, 10, Qt::red));
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(SourceIconData::iconForLink(u"http://a/"_s).pixel(0, 0), QColor(Qt::red).rgba());
}

TEST(SourceIconData, StoresLegacyIconsAsTheyAreWithoutAnnouncingThem)
{
    IconRecorder recorder;
    SourceIconData::setIconForSourceLink(u"http://a/"_s, filled(20, 10, Qt::blue));
    TestSupport::processEvents();
    EXPECT_TRUE(recorder.sources.isEmpty());
    const QImage icon = SourceIconData::iconForLink(u"http://a/"_s);
    EXPECT_EQ(icon.size(), QSize(20, 10));
    EXPECT_EQ(icon.pixel(0, 0), QColor(Qt::blue).rgba());
}

TEST(SourceIconData, NamesFilesByADigestOnlyAndGivesNothingForMissingOrDamagedFiles)
{
    EXPECT_TRUE(SourceIconData::iconForLink(u"http://never/"_s).isNull());
    EXPECT_TRUE(QFileInfo(iconDirectory()).isDir());

    SourceIconData::setIconForSourceLink(u"../../../escape/me"_s, filled(4, 4, Qt::red));
    const QStringList files = QDir(iconDirectory()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(u"^[0-9a-f]{64}\\.png$"_s).match(files[0]).hasMatch())
        << files[0].toStdString();

    QFile damaged(QDir(iconDirectory()).filePath(files[0]));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("\x89PNG\r\n\x1a\n truncated");
    damaged.close();
    EXPECT_TRUE(SourceIconData::iconForLink(u"../../../escape/me"_s).isNull());
}

TEST(SourceIconData, AnnouncesEvenWhenNothingCanBeWritten)
{
    auto source = std::make_shared<Source>(u"News"_s, u"http://example.org/feed"_s);
    IconRecorder recorder;
    // A picture without pixels gives no icon file.
    SourceIconData::setIconForSource(source, QImage());
    ASSERT_TRUE(TestSupport::waitFor([&] { return recorder.sources.size() == 1; }));
    EXPECT_TRUE(SourceIconData::iconForSource(*source).isNull());

    // No container at all.
    qputenv("XDG_DATA_HOME", "relative");
    qputenv("HOME", "");
    SourceIconData::setIconForSource(source, filled(96, 96, Qt::red));
    ASSERT_TRUE(TestSupport::waitFor([&] { return recorder.sources.size() == 2; }));
    EXPECT_TRUE(SourceIconData::iconForSource(*source).isNull());
}

TEST(SourceIconData, TellsWhetherAnIconIsStoredFromTheFileHeaderAsReadingItWould)
{
    const Source source(u"News"_s, u"http://example.org/header-feed"_s);
    EXPECT_FALSE(SourceIconData::hasIconForSource(source));
    SourceIconData::setIconForSourceLink(source.link(), filled(96, 96, Qt::red));
    EXPECT_TRUE(SourceIconData::hasIconForSource(source));
    EXPECT_FALSE(SourceIconData::iconForSource(source).isNull());

    // Too large to be an icon, or no picture at all: neither is there.
    SourceIconData::setIconForSourceLink(source.link(), filled(2048, 8, Qt::red));
    EXPECT_FALSE(SourceIconData::hasIconForSource(source));
    EXPECT_TRUE(SourceIconData::iconForSource(source).isNull());
    const QStringList files = QDir(iconDirectory()).entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        QFile damaged(QDir(iconDirectory()).filePath(name));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("not a picture");
    }
    EXPECT_FALSE(SourceIconData::hasIconForSource(source));
    EXPECT_TRUE(SourceIconData::iconForSource(source).isNull());
}

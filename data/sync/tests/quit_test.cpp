// Quitting while a refresh, icon searches and picture loads are under way: the program ends at
// once and cleanly, and the store it shares with the other program stays whole and readable.

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "testsupport/LoopbackWorld.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <sqlite3.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackWorld;

namespace {

constexpr int siteCount = 240;
constexpr int storiesPerSite = 4;
constexpr int storedStoryCount = 60;

QString storePath()
{
    const QString suite = QString::fromUtf16(applicationGroupIdentifier);
    return *GroupContainer::path(suite) + u"/Preferences/"_s + suite + u".sqlite"_s;
}

QString integrityOf(const QString& path)
{
    sqlite3* db = nullptr;
    QString result = u"cannot open"_s;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            result = QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return result;
}

class Quitting : public testing::Test {
protected:
    void SetUp() override
    {
        // Slow sites of every format, answering over a couple of seconds, so that any moment
        // of quitting finds downloads, reads and store writes under way.
        QList<std::shared_ptr<Source>> sources;
        for (int i = 0; i < siteCount; ++i) {
            const QString host = u"site-%1.test"_s.arg(i);
            const auto format = LoopbackWorld::FeedFormat(i % 3);
            m_world.addFeedSite(host, u"Site %1"_s.arg(i), format, storiesPerSite,
                QColor::fromHsv(i * 7 % 360, 160, 200), i * 37 % 2000);
            sources.append(std::make_shared<Source>(u"Site %1"_s.arg(i), m_world.feedURL(host)));
        }
        // Written in one go, as a person's long list is stored.
        (void)sharedDefaults()->set(
            u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(sources));
        ASSERT_EQ(SourcesData().sources().size(), siteCount);
        QList<std::shared_ptr<NewsStory>> stories;
        for (int i = 0; i < storedStoryCount; ++i) {
            const QString home = LoopbackWorld::homeURL(u"site-%1.test"_s.arg(i));
            stories.append(std::make_shared<NewsStory>(u"Story %1"_s.arg(i), u"Told plainly."_s,
                Url::fromString(home + u"articles/1.html"_s),
                QDateTime::currentDateTimeUtc().addSecs(-60 * i), sources.at(i)));
        }
        (void)StoredStoriesData().storeStories(stories);
        m_hostMap = QDir(TestSupport::dataHome()).filePath(u"../hosts"_s);
        ASSERT_TRUE(m_world.writeHostMap(m_hostMap));
    }

    // Runs the helper, quitting after `ms`; what went wrong, or nothing.
    QString quitAfter(int ms)
    {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"TICKERLY_TEST_HOST_MAP"_s, m_hostMap);
        helper.setProcessEnvironment(env);
        helper.setProcessChannelMode(QProcess::MergedChannels);
        helper.start(TestSupport::helperPath(u"quit_helper"_s), { QString::number(ms) });
        if (!helper.waitForStarted(30000))
            return u"did not start"_s;
        // Generous for a loaded machine; a hang at exit stays there for good.
        const bool ended = helper.waitForFinished(30000);
        const QString output = QString::fromUtf8(helper.readAll());
        if (!ended) {
            helper.kill();
            helper.waitForFinished();
            return u"still running long after quitting: "_s + output;
        }
        if (helper.exitStatus() != QProcess::NormalExit || helper.exitCode() != 0
            || !output.contains(u"quitting"_s))
            return u"ended with status %1, code %2: "_s.arg(int(helper.exitStatus()))
                       .arg(helper.exitCode())
                + output;
        return {};
    }

    LoopbackWorld m_world { 256 };
    QString m_hostMap;
};

} // namespace

TEST_F(Quitting, MidWorkEndsPromptlyAndLeavesTheStoreWhole)
{
    // From before the first answer to after the last one.
    for (int ms : { 0, 20, 80, 200, 450, 700, 1000, 1400, 1800, 2300 }) {
        SCOPED_TRACE(ms);
        EXPECT_EQ(quitAfter(ms), QString());
        EXPECT_EQ(integrityOf(storePath()), u"ok"_s);
        // What either program reads next is whole: every source, and a story list that is
        // either the one stored before or a refresh's complete one.
        EXPECT_EQ(SourcesData().sources().size(), siteCount);
        const auto stored = StoredStoriesData().storedStories();
        EXPECT_TRUE(
            stored.size() == storedStoryCount || stored.size() == siteCount * storiesPerSite)
            << stored.size();
    }
}

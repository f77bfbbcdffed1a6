#include "data/model/Shared.h"
#include "data/model/UserInfo.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "testsupport/LocaleEnvironment.h"
#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LocaleEnvironment;

namespace {

const QString userIdKey = QString::fromUtf16(userDefaultsUUIDKey);

bool isNewIdentifier(const QString& id)
{
    static const QRegularExpression pattern(
        u"^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s);
    return pattern.match(id).hasMatch();
}

} // namespace

TEST(UserInfo, LanguageIsTheFirstTwoCharactersOfTheFirstPreferredLanguage)
{
    {
        LocaleEnvironment env({ { "LANGUAGE", "pt_BR:en" }, { "LANG", "de_DE.UTF-8" } });
        EXPECT_EQ(UserInfo::language(), u"pt"_s);
    }
    {
        // Characters as seen: a letter with its combining accent counts once.
        LocaleEnvironment env({ { "LANG", "de" }, { "LANGUAGE", "x" } });
        EXPECT_EQ(UserInfo::language(), u"x"_s);
        qputenv("LANGUAGE", "e\xCC\x81s_XY");
        EXPECT_EQ(UserInfo::language(), u"e\u0301s"_s);
    }
    {
        LocaleEnvironment env({ { "LANG", "C.UTF-8" } });
        EXPECT_EQ(UserInfo::language(), u"na"_s);
    }
}

TEST(UserInfo, MakesTheIdentifierOnceAndKeepsWhateverTextIsStored)
{
    const QString id = UserInfo::userId();
    EXPECT_TRUE(isNewIdentifier(id)) << id.toStdString();
    EXPECT_EQ(sharedDefaults()->value(userIdKey), QVariant(id));
    EXPECT_EQ(UserInfo::userId(), id);

    // Any text is the identifier, the empty text too; a number reads as its text.
    (void)sharedDefaults()->set(userIdKey, QString());
    EXPECT_EQ(UserInfo::userId(), QString());
    EXPECT_EQ(sharedDefaults()->value(userIdKey), QVariant(QString()));
    (void)sharedDefaults()->set(userIdKey, 42);
    EXPECT_EQ(UserInfo::userId(), u"42"_s);
    EXPECT_EQ(sharedDefaults()->value(userIdKey), QVariant(qint64(42)));

    // A value that is no text is replaced by a new identifier.
    (void)sharedDefaults()->set(userIdKey, QByteArray("\x01\x02"));
    const QString replaced = UserInfo::userId();
    EXPECT_TRUE(isNewIdentifier(replaced));
    EXPECT_NE(replaced, id);
    EXPECT_EQ(sharedDefaults()->string(userIdKey), replaced);
}

TEST(UserInfo, ProgramsAndThreadsAskingAtOnceGetOneIdentifier)
{
    std::vector<std::unique_ptr<QProcess>> helpers;
    for (int i = 0; i < 4; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(TestSupport::helperPath(u"data_helper"_s), { u"userid"_s });
        ASSERT_TRUE(p->waitForStarted(30000));
        helpers.push_back(std::move(p));
    }
    for (auto& p : helpers) {
        ASSERT_TRUE(TestSupport::waitFor([&] { return p->canReadLine(); }, 30000));
        EXPECT_EQ(p->readLine().trimmed(), "ready");
    }

    for (auto& p : helpers)
        p->write("go\n");
    std::vector<QString> ids(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&ids, t] { ids[t] = UserInfo::userId(); });
    for (auto& t : threads)
        t.join();
    for (auto& p : helpers) {
        ASSERT_TRUE(p->waitForFinished(30000));
        EXPECT_EQ(p->exitCode(), 0);
        ids.push_back(QString::fromUtf8(p->readAllStandardOutput().trimmed()));
    }

    ASSERT_TRUE(isNewIdentifier(ids.front())) << ids.front().toStdString();
    for (const QString& id : ids)
        EXPECT_EQ(id, ids.front());
    EXPECT_EQ(sharedDefaults()->string(userIdKey), ids.front());
}

// An identifier made while another program held the store, by a program that then quit with the
// store still held: a report may have carried it already, so the next opening stores it and the
// next ask gives it rather than a new one.
TEST(UserInfo, AnIdentifierMadeBehindAHolderOutlivesAQuitAndIsTheOneStored)
{
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(TestSupport::helperPath(u"data_helper"_s), { u"userid-then-quit"_s });
    const QString made = StoreTest::readLine(program);
    ASSERT_TRUE(isNewIdentifier(made)) << made.toStdString();
    ASSERT_TRUE(StoreTest::finishedOk(program));
    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));

    EXPECT_EQ(UserInfo::userId(), made);
    EXPECT_EQ(sharedDefaults()->string(userIdKey), made);
    EXPECT_EQ(UserInfo::userId(), made);
}

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

bool busOrSkip() { return DistributedNotificationCenter::defaultCenter().isAvailable(); }

} // namespace

TEST(DistributedNotificationCenter, APostReachesAnotherProcessAndComesBack)
{
    if (!busOrSkip())
        GTEST_SKIP() << "no session bus";
    auto& center = DistributedNotificationCenter::defaultCenter();

    QProcess observer;
    observer.start(
        TestSupport::helperPath(u"store_helper"_s), { u"observe"_s, u"TestDataUpdated"_s });
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return observer.waitForReadyRead(10) || observer.canReadLine(); }));
    EXPECT_EQ(observer.readLine().trimmed(), "ready");
    center.postNotificationName(u"TestDataUpdated"_s, u"Tickerly"_s);
    ASSERT_TRUE(observer.waitForFinished(60000));
    EXPECT_EQ(observer.exitCode(), 0);
    EXPECT_EQ(observer.readAll().trimmed(), "TestDataUpdated Tickerly");

    QStringList heard;
    auto token = center.addObserver(u"FromHelper"_s, u"Tickerly"_s,
        [&](const QString& name, const QString& object) { heard.append(name + u'/' + object); });
    QProcess poster;
    poster.start(
        TestSupport::helperPath(u"store_helper"_s), { u"post"_s, u"FromHelper"_s, u"Tickerly"_s });
    ASSERT_TRUE(poster.waitForFinished(60000));
    EXPECT_EQ(poster.exitCode(), 0);
    EXPECT_TRUE(TestSupport::waitFor([&] { return !heard.isEmpty(); }));
    EXPECT_EQ(heard, QStringList { u"FromHelper/Tickerly"_s });
}

TEST(DistributedNotificationCenter, APostArrivesOnceInItsOwnProcessAndHonoursTheObjectFilter)
{
    if (!busOrSkip())
        GTEST_SKIP() << "no session bus";
    auto& center = DistributedNotificationCenter::defaultCenter();
    int any = 0, onlyA = 0, done = 0;
    auto t1
        = center.addObserver(u"Own"_s, QString(), [&](const QString&, const QString&) { ++any; });
    auto t2
        = center.addObserver(u"Own"_s, u"a"_s, [&](const QString&, const QString&) { ++onlyA; });
    auto t3 = center.addObserver(
        u"OwnDone"_s, QString(), [&](const QString&, const QString&) { ++done; });
    center.postNotificationName(u"Own"_s, u"a"_s);
    center.postNotificationName(u"Own"_s, u"b"_s);
    // Signals from one sender keep their order: once the last is in, any duplicate would be too.
    center.postNotificationName(u"OwnDone"_s);
    ASSERT_TRUE(TestSupport::waitFor([&] { return done == 1; }));
    EXPECT_EQ(any, 2);
    EXPECT_EQ(onlyA, 1);
}

TEST(DistributedNotificationCenter, WithoutASessionBusReachesItsOwnObserversOnceAndReturnsAtOnce)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    env.remove(u"XDG_RUNTIME_DIR"_s);
    env.remove(u"DISPLAY"_s);
    QProcess poster;
    poster.setProcessEnvironment(env);
    poster.start(TestSupport::helperPath(u"store_helper"_s), { u"post"_s, u"Nobody"_s, u"x"_s });
    ASSERT_TRUE(poster.waitForFinished(60000));
    EXPECT_EQ(poster.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(poster.exitCode(), 3);
}

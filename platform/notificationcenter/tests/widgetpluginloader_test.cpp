#include "platform/notificationcenter/WidgetPluginLoader.h"
#include "testsupport/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::WidgetHost;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

struct BrokenPlugin {
    QString path;
    QString reason;
};

QList<BrokenPlugin> brokenPlugins()
{
    const QString notAPlugin = QDir(TestSupport::dataHome()).filePath(u"libNotAPlugin.so"_s);
    QDir().mkpath(TestSupport::dataHome());
    QFile file(notAPlugin);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is text, not a library\n");
    file.close();
    return {
        { QDir(TestSupport::dataHome()).filePath(u"libMissing.so"_s), u"there is no such file"_s },
        { notAPlugin, u"it is not a widget plug-in"_s },
        { QStringLiteral(OLD_VERSION_PLUGIN),
            u"built for widget interface version 0; this host speaks version 1"_s },
        { QStringLiteral(NO_PRINCIPAL_PLUGIN), u"its metadata names no principal class"_s },
        { QStringLiteral(UNKNOWN_CLASS_PLUGIN),
            u"cannot make its principal class \"NoSuchViewController\""_s },
    };
}

} // namespace

TEST(WidgetPluginLoader, RefusesEveryBrokenPluginWithItsReason)
{
    for (const BrokenPlugin& broken : brokenPlugins()) {
        SCOPED_TRACE(broken.path.toStdString());
        const LoadedWidget widget = LoadedWidget::load(broken.path);
        EXPECT_FALSE(widget.ok());
        EXPECT_TRUE(widget.error.contains(broken.reason)) << widget.error.toStdString();
        EXPECT_TRUE(widget.error.contains(QDir::toNativeSeparators(broken.path)));
    }
}

TEST(WidgetPluginLoader, MakesThePrincipalClassTheMetadataNames)
{
    const LoadedWidget widget = LoadedWidget::load(QStringLiteral(FAKE_WIDGET_PLUGIN));
    ASSERT_TRUE(widget.ok()) << widget.error.toStdString();
    EXPECT_EQ(widget.principalClass, u"FakeViewController"_s);
    EXPECT_EQ(widget.displayName, u"Fake widget"_s);
    ASSERT_NE(widget.controller->view(), nullptr);
    EXPECT_EQ(widget.controller->view(), widget.controller->view());
}

TEST(WidgetPluginLoader, TheDefaultPluginIsLookedForInstalledThenInTheBuildTree)
{
    const QStringList candidates = widgetPluginCandidates(u"/opt/t/bin"_s);
    ASSERT_EQ(candidates.size(), 2);
    EXPECT_TRUE(candidates[0].endsWith(u"/tickerly/libTickerly_Widget_Mac.so"_s));
    EXPECT_EQ(QDir::cleanPath(candidates[1]), u"/opt/t/lib/libTickerly_Widget_Mac.so"_s);
    EXPECT_EQ(defaultWidgetPluginPath(u"/opt/t/bin"_s), QDir::cleanPath(candidates[0]));
}

// The host program itself: a broken plug-in ends it with the reason and a failure status,
// never a crash.
TEST(WidgetHost, EndsWithTheReasonAndAFailureForABrokenPlugin)
{
    for (const BrokenPlugin& broken : brokenPlugins()) {
        SCOPED_TRACE(broken.path.toStdString());
        QProcess host;
        host.start(QStringLiteral(WIDGET_HOST), { u"--widget"_s, broken.path });
        ASSERT_TRUE(host.waitForFinished(30000));
        EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(host.exitCode(), 1);
        const QString message = QString::fromUtf8(host.readAllStandardError());
        EXPECT_TRUE(message.contains(broken.reason)) << message.toStdString();
    }
}

TEST(WidgetHost, ASecondStartBringsBackTheRunningPanelAndEnds)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    const QString service = u"velmora.Tickerly.WidgetHost"_s;
    QProcess first;
    first.start(QStringLiteral(WIDGET_HOST), { u"--widget"_s, QStringLiteral(FAKE_WIDGET_PLUGIN) });
    ASSERT_TRUE(TestSupport::waitFor(
        [&] { return bus.interface()->isServiceRegistered(service).value(); }));

    QProcess second;
    second.start(
        QStringLiteral(WIDGET_HOST), { u"--widget"_s, QStringLiteral(FAKE_WIDGET_PLUGIN) });
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(service, u"/"_s, service, u"Show"_s), QDBus::Block, 10000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(30000));
}

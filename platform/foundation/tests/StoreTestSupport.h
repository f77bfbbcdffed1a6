#pragma once

// What the tests of the shared store share: the other program, the log, the wait limit.

#include "platform/foundation/GroupContainer.h"
#include "platform/foundation/UserDefaults.h"
#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QStringList>

#include <memory>
#include <mutex>

namespace storetest {

inline QString databasePath(const QString& name)
{
    return *GroupContainer::path(name) + QStringLiteral("/Preferences/") + name + QStringLiteral(".sqlite");
}

inline std::unique_ptr<QProcess> startHelper(const QStringList& args,
    QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel)
{
    auto p = std::make_unique<QProcess>();
    p->setProgram(testsupport::helperPath(QStringLiteral("store_helper")));
    p->setArguments(args);
    p->setProcessChannelMode(mode);
    p->start();
    return p;
}

inline bool finishedOk(QProcess& p, int ms = 60000)
{
    return p.waitForFinished(ms) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QString readLine(QProcess& p, int ms = 30000)
{
    testsupport::waitFor([&] {
        p.waitForReadyRead(10);
        return p.canReadLine() || p.state() == QProcess::NotRunning;
    }, ms);
    return QString::fromUtf8(p.readLine()).trimmed();
}

// The lines logged (by any thread) while it lives.
class LogCapture {
public:
    LogCapture()
    {
        const std::lock_guard lock(mutex());
        lines().clear();
        previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    static QString text()
    {
        const std::lock_guard lock(mutex());
        return lines().join(u'\n');
    }
    static qsizetype count(const QString& part)
    {
        const std::lock_guard lock(mutex());
        return std::count_if(lines().cbegin(), lines().cend(), [&](const QString& l) { return l.contains(part); });
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList& lines()
    {
        static QStringList all;
        return all;
    }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        const std::lock_guard lock(mutex());
        lines().append(message);
    }
    QtMessageHandler previous = nullptr;
};

struct WaitLimit {
    explicit WaitLimit(int ms) { UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(ms)); }
    ~WaitLimit() { UserDefaults::setWriteWaitLimit(std::chrono::seconds(30)); }
};

} // namespace storetest

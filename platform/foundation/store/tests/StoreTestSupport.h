#pragma once

// What the tests of the shared store share: the other program, the log, the wait limit.

#include "platform/foundation/Namespace.h"
#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/store/UserDefaults.h"
#include "testsupport/LogCollector.h"
#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QStringList>

#include <memory>

namespace Tickerly::Foundation {

namespace StoreTest {

inline QString databasePath(const QString& name)
{
    return *GroupContainer::path(name) + QStringLiteral("/Preferences/") + name
        + QStringLiteral(".sqlite");
}

inline std::unique_ptr<QProcess> startHelper(
    const QStringList& args, QProcess::ProcessChannelMode mode = QProcess::ForwardedErrorChannel)
{
    auto p = std::make_unique<QProcess>();
    p->setProgram(TestSupport::helperPath(QStringLiteral("store_helper")));
    p->setArguments(args);
    p->setProcessChannelMode(mode);
    p->start();
    return p;
}

inline bool finishedOk(QProcess& p, int ms = 60000)
{
    // A process whose end was already read while waiting for its last line is finished, though
    // waitForFinished says false for it.
    const bool finished
        = (p.state() == QProcess::NotRunning && p.error() != QProcess::FailedToStart)
        || p.waitForFinished(ms);
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QString readLine(QProcess& p, int ms = 30000)
{
    TestSupport::waitFor(
        [&] {
            p.waitForReadyRead(10);
            return p.canReadLine() || p.state() == QProcess::NotRunning;
        },
        ms);
    return QString::fromUtf8(p.readLine()).trimmed();
}

struct WaitLimit {
    explicit WaitLimit(int ms) { UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(ms)); }
    ~WaitLimit() { UserDefaults::setWriteWaitLimit(std::chrono::seconds(30)); }
};

} // namespace StoreTest

} // namespace Tickerly::Foundation

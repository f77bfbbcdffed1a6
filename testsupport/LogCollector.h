#pragma once

#include "testsupport/Namespace.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace Tickerly::TestSupport {

// Collects the log lines written, from any thread, while it lives.
class LogCollector {
public:
    LogCollector()
    {
        std::lock_guard lock(mutex());
        store().clear();
        previous = qInstallMessageHandler(&LogCollector::collect);
    }
    ~LogCollector() { qInstallMessageHandler(previous); }
    LogCollector(const LogCollector&) = delete;
    LogCollector& operator=(const LogCollector&) = delete;

    QStringList lines() const
    {
        std::lock_guard lock(mutex());
        return store();
    }
    // Whether a line holds `text`.
    bool contains(const QString& text) const { return !lines().filter(text).isEmpty(); }
    // How many lines hold `text`.
    qsizetype count(const QString& text) const { return lines().filter(text).size(); }
    QString text() const { return lines().join(u'\n'); }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList& store()
    {
        static QStringList lines;
        return lines;
    }
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        std::lock_guard lock(mutex());
        store().append(message);
    }

    QtMessageHandler previous = nullptr;
};

} // namespace Tickerly::TestSupport

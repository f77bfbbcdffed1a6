#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace testsupport {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        // Let other threads run when the main loop has nothing to do.
        QThread::yieldCurrentThread();
    }
    return true;
}

void processEvents()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

QString dataHome()
{
    return qEnvironmentVariable("XDG_DATA_HOME");
}

// The environment wins; the build's own paths stand in when it is not set (gtest discovery
// passes only the first entry of a test's ENVIRONMENT list).
static QString pathSetting(const char* variable, const char* builtIn)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromUtf8(builtIn) : value;
}

QString sourcePath(const QString& relative)
{
    return QDir(pathSetting("TICKERLY_SOURCE_DIR", TICKERLY_SOURCE_DIR)).filePath(relative);
}

QString corpusPath(const QString& relative)
{
    QDir dir(pathSetting("TICKERLY_CORPUS_DIR", TICKERLY_CORPUS_DIR));
    return relative.isEmpty() ? dir.absolutePath() : dir.filePath(relative);
}

QString helperPath(const QString& name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace testsupport

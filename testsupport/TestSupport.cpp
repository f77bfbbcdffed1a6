#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <iostream>

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

QString dataHome() { return qEnvironmentVariable("XDG_DATA_HOME"); }

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

static QStringList xmlFilesUnder(const QString& root)
{
    QStringList files;
    QDirIterator it(root, { QStringLiteral("*.xml") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort(); // the same order on every file system
    return files;
}

FeedFiles feedFiles(const QString& test)
{
    FeedFiles files;
    for (const char* folder : { "data/sync/tests/data/feeds", "fuzz/corpus/feedparser_fuzz",
             "fuzz/corpus/xmlparser_fuzz" })
        files.own << xmlFilesUnder(sourcePath(QString::fromLatin1(folder)));
    const QString outside = corpusPath();
    files.outside = xmlFilesUnder(outside);
    std::cout << test.toStdString() << ": " << files.own.size()
              << " feeds of the project's own and " << files.outside.size()
              << " of the outside corpus at " << outside.toStdString() << '\n';
    if (files.outside.isEmpty() && !qEnvironmentVariableIsEmpty("TICKERLY_REQUIRE_CORPUS"))
        ADD_FAILURE() << "TICKERLY_REQUIRE_CORPUS is set, but there is no outside corpus at "
                      << outside.toStdString();
    return files;
}

int coloursIn(const QImage& image, const QRect& area, int enough)
{
    QSet<QRgb> seen;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom() && seen.size() < enough; ++y) {
        for (int x = inside.left(); x <= inside.right() && seen.size() < enough; ++x)
            seen.insert(image.pixel(x, y));
    }
    return int(seen.size());
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

#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageWriter>
#include <QSet>
#include <QThread>
#include <QtEndian>

#include <gtest/gtest.h>

#include <iostream>

namespace Tickerly::TestSupport {

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

QByteArray encodedImage(const QImage& image, const char* format, bool progressive, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation)
{
    // A little-endian TIFF block of one directory entry: Orientation (0x112), one SHORT.
    QByteArray exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
    exif += char(orientation);
    exif += QByteArray(7, 0);
    QByteArray length(2, 0);
    qToBigEndian<quint16>(quint16(exif.size() + 2), length.data());
    return jpeg.left(2) + "\xff\xe1" + length + exif + jpeg.mid(2);
}

QByteArray gifOfCanvas(QSize canvas)
{
    QByteArray size(4, 0);
    qToLittleEndian<quint16>(quint16(canvas.width()), size.data());
    qToLittleEndian<quint16>(quint16(canvas.height()), size.data() + 2);
    // Two colours; one image of one pixel at the corner; its LZW data; the trailer.
    return "GIF89a" + size + QByteArray("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9)
        + QByteArray("\x2c\x00\x00\x00\x00\x01\x00\x01\x00", 9)
        + QByteArray("\x00\x02\x02\x44\x01\x00\x3b", 7);
}

} // namespace Tickerly::TestSupport

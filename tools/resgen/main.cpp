// Draws the project's own resources at build time: tickerly_resgen <file name> <output file>.
// Each file of this folder registers what it draws (Resource.h).
//
//   squirclemask.png   192×192 alpha mask of a squircle (|x|^5 + |y|^5 = 1), opaque white
//                      inside, transparent outside, anti-aliased edge.

#include "Resource.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QPainter>
#include <QString>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

// Runs during the build, also in sanitizer builds: what Qt keeps until exit is no leak to report.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

QImage squircleMask()
{
    constexpr int side = 192;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(squirclePath(QRectF(0, 0, side, side)), Qt::white);
    return image;
}

const bool squircleRegistered = registerImage(u"squirclemask.png"_s, squircleMask);

} // namespace

const ResourceWriter* findResourceWriter(const QString& fileName);
const SequenceWriter* findSequenceWriter(const QString& pattern);

namespace {

int drawSequence(const QString& pattern, int count, const QString& directory)
{
    const SequenceWriter* writer = findSequenceWriter(pattern);
    if (!writer || count <= 0) {
        std::fprintf(stderr, "unknown sequence %s\n", qPrintable(pattern));
        return 64;
    }
    for (int i = 0; i < count; ++i) {
        if (!(*writer)(i, count, directory + u'/' + sequenceFileName(pattern, i)))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && QByteArrayView(argv[1]) == "--sequence")
        return drawSequence(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt(),
            QString::fromLocal8Bit(argv[4]));
    if (argc != 3) {
        std::fprintf(stderr,
            "usage: tickerly_resgen <file name> <output file>\n"
            "       tickerly_resgen --sequence <pattern> <count> <directory>\n");
        return 64;
    }
    const QString fileName = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const ResourceWriter* writer = findResourceWriter(fileName);
    if (!writer) {
        std::fprintf(stderr, "unknown resource %s\n", argv[1]);
        return 64;
    }
    return (*writer)(fileName, output) ? 0 : 1;
}

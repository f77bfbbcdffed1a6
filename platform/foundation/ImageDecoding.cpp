#include "platform/foundation/ImageDecoding.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace Tickerly::Foundation {

namespace {

quint32 bigEndian(const QByteArray& b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

quint32 littleEndian(const QByteArray& b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

bool isPng(const QByteArray& b, qsizetype at = 0)
{
    return at >= 0 && b.size() - at >= 29
        && QByteArrayView(b).sliced(at, 8) == QByteArrayView("\x89PNG\r\n\x1a\n", 8)
        && QByteArrayView(b).sliced(at + 12, 4) == QByteArrayView("IHDR", 4);
}

// The PNG decoder reads a smaller size without holding the whole picture only for 8-bit RGB
// or RGBA that is not interlaced; gray, palette, 16-bit and interlaced pictures are read whole.
bool pngReadsScaled(const QByteArray& b)
{
    if (!isPng(b))
        return false;
    const int depth = quint8(b[24]), colour = quint8(b[25]), interlace = quint8(b[28]);
    return depth == 8 && (colour == 2 || colour == 6) && interlace == 0;
}

// Only sequential JPEG is read scaled in little memory; a progressive one keeps every
// coefficient of the whole picture while it is decoded.
bool jpegReadsScaled(const QByteArray& b)
{
    qsizetype i = 2;
    while (i + 4 <= b.size()) {
        if (quint8(b[i]) != 0xFF)
            return false;
        const int marker = quint8(b[i + 1]);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            i += 2;
            continue;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker == 0xC0 || marker == 0xC1;
        if (marker == 0xDA || marker == 0xD9)
            return false;
        i += 2 + bigEndian(b, i + 2, 2);
    }
    return false;
}

// The GIF decoder draws the first frame on a canvas of the logical screen's size, which the
// frame's own size (what the reader reports) does not show.
QSize gifCanvas(const QByteArray& b)
{
    if (b.size() < 13)
        return {};
    int width = int(littleEndian(b, 6, 2)), height = int(littleEndian(b, 8, 2));
    const int flags = quint8(b[10]);
    qsizetype i = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    while (i < b.size()) {
        const int block = quint8(b[i]);
        if (block == 0x2C) {
            if (i + 9 >= b.size())
                break;
            width = std::max(width, int(littleEndian(b, i + 1, 2) + littleEndian(b, i + 5, 2)));
            height = std::max(height, int(littleEndian(b, i + 3, 2) + littleEndian(b, i + 7, 2)));
            break;
        }
        if (block != 0x21)
            break;
        i += 2; // introducer and label, then sub-blocks up to an empty one
        while (i < b.size() && b[i] != 0)
            i += 1 + quint8(b[i]);
        ++i;
    }
    return QSize(width, height);
}

// An icon file's entries may each hold a picture of any size (a PNG or a bitmap); the reader
// reports only the directory's byte-sized guess. The largest entry counts.
QSize iconCanvas(const QByteArray& b)
{
    if (b.size() < 6)
        return {};
    const int count = int(littleEndian(b, 4, 2));
    int width = 0, height = 0;
    for (int n = 0; n < count && 6 + 16 * qsizetype(n + 1) <= b.size(); ++n) {
        const qsizetype entry = 6 + 16 * n;
        width = std::max(width, b[entry] ? int(quint8(b[entry])) : 256);
        height = std::max(height, b[entry + 1] ? int(quint8(b[entry + 1])) : 256);
        const qsizetype at = littleEndian(b, entry + 12, 4);
        if (at < 0 || at + 29 > b.size())
            continue;
        if (isPng(b, at)) {
            width = std::max(width, int(std::min<quint32>(bigEndian(b, at + 16, 4), INT_MAX)));
            height = std::max(height, int(std::min<quint32>(bigEndian(b, at + 20, 4), INT_MAX)));
        } else if (littleEndian(b, at, 4) == 12) {
            width = std::max(width, int(littleEndian(b, at + 4, 2)));
            height = std::max(height, int(littleEndian(b, at + 6, 2)) / 2);
        } else {
            const qint64 w = qint32(littleEndian(b, at + 4, 4)),
                         h = qint32(littleEndian(b, at + 8, 4));
            width = int(std::max<qint64>(width, std::min<qint64>(std::abs(w), INT_MAX)));
            height = int(std::max<qint64>(height, std::min<qint64>(std::abs(h) / 2, INT_MAX)));
        }
    }
    return QSize(width, height);
}

struct Header {
    QSize size;
    bool readsScaled = false;
};

// What the bytes announce, read before any pixel memory is taken.
Header readHeader(QImageReader& reader, const QByteArray& bytes)
{
    Header header { reader.size() };
    const QByteArray format = reader.format();
    QSize canvas;
    if (format == "png")
        header.readsScaled = pngReadsScaled(bytes);
    else if (format == "jpeg" || format == "jpg")
        header.readsScaled = jpegReadsScaled(bytes);
    else if (format == "gif")
        canvas = gifCanvas(bytes);
    else if (bytes.startsWith(QByteArrayView("\0\0\1\0", 4))
        || bytes.startsWith(QByteArrayView("\0\0\2\0", 4)))
        canvas = iconCanvas(bytes); // the icon reader names no format
    if (header.size.isValid() && canvas.isValid())
        header.size = header.size.expandedTo(canvas);
    return header;
}

bool within(QSize size, int maxSide, qint64 maxPixels)
{
    return size.isValid() && size.width() <= maxSide && size.height() <= maxSide
        && qint64(size.width()) * size.height() <= maxPixels;
}

} // namespace

QImage decodeImage(const QByteArray& bytes, const ImageUse& use)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const Header header = readHeader(reader, bytes);
    if (!within(header.size, use.maxSide, maxAnnouncedImagePixels))
        return {};
    const QSize size = header.size;
    const qint64 pixels = qint64(size.width()) * size.height();
    // A picture that is read whole costs its full size, whatever it is drawn at.
    if (!header.readsScaled && pixels > use.maxWholePixels)
        return {};
    const QSize cover = use.cover;
    if (cover.isEmpty() || pixels <= use.readWholeUpTo)
        return reader.read();
    // The side that needs the larger scale takes the cover's exactly; the other is rounded up.
    const qint64 w = size.width();
    const qint64 h = size.height();
    QSize reduced;
    if (cover.width() * h >= cover.height() * w)
        reduced = QSize(cover.width(), int((h * cover.width() + w - 1) / w));
    else
        reduced = QSize(int((w * cover.height() + h - 1) / h), cover.height());
    if (reduced.width() >= w || reduced.height() >= h)
        return reader.read();
    if (!header.readsScaled)
        return reader.read().scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    reader.setScaledSize(reduced);
    return reader.read();
}

} // namespace Tickerly::Foundation

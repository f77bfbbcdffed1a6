#include "platform/foundation/images/ImageDecoding.h"

#include "platform/foundation/images/PngRows_p.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>

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

// A non-interlaced PNG of any colour type and depth is read here row by row; an interlaced one
// only gives its full picture after the last pass, so it is read whole.
bool pngReadsInRows(const QByteArray& b) { return isPng(b) && quint8(b[28]) == 0; }

// How the JPEG decoder reads a picture: a single-scan one (sequential, its components
// interleaved) a few rows at a time at a reduced size; one of several scans (progressive, or
// sequential with its components apart) keeps every coefficient of the whole picture until its
// last scan, whatever size it is read at.
struct JpegFrame {
    bool known = false; // a frame the decoder reads
    bool allCoefficients = false;
    qint64 coefficientBytes = 0;
};

JpegFrame jpegFrame(const QByteArray& b)
{
    JpegFrame frame;
    int components = 0;
    qsizetype i = 2;
    while (i + 4 <= b.size()) {
        if (quint8(b[i]) != 0xFF)
            return {};
        const int marker = quint8(b[i + 1]);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            i += 2;
            continue;
        }
        if (marker == 0xD9)
            return {};
        const qsizetype length = bigEndian(b, i + 2, 2);
        if (marker == 0xDA) {
            // A first scan of fewer components than the frame's means more scans follow.
            if (!frame.known || i + 4 >= b.size())
                return {};
            frame.allCoefficients = frame.allCoefficients || quint8(b[i + 4]) < components;
            return frame;
        }
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
            && marker != 0xCC) {
            // Baseline, extended and progressive, Huffman or arithmetic coded; the decoder
            // reads no other.
            const bool sequential = marker == 0xC0 || marker == 0xC1 || marker == 0xC9;
            const bool progressive = marker == 0xC2 || marker == 0xCA;
            if (frame.known || (!sequential && !progressive) || i + 10 > b.size())
                return {};
            const qint64 height = bigEndian(b, i + 5, 2), width = bigEndian(b, i + 7, 2);
            components = quint8(b[i + 9]);
            if (i + 10 + 3 * qsizetype(components) > b.size() || components == 0)
                return {};
            int maxH = 1, maxV = 1;
            for (int c = 0; c < components; ++c) {
                const int sampling = quint8(b[i + 11 + 3 * c]);
                maxH = std::max(maxH, sampling >> 4);
                maxV = std::max(maxV, sampling & 15);
            }
            // As the decoder sizes its coefficient arrays: blocks of 64 two-byte coefficients,
            // each component's rows and columns rounded up to its sampling factors.
            for (int c = 0; c < components; ++c) {
                const int sampling = quint8(b[i + 11 + 3 * c]);
                const qint64 h = std::max(1, sampling >> 4), v = std::max(1, sampling & 15);
                const qint64 columns = (width * h + 8 * maxH - 1) / (8 * maxH);
                const qint64 rows = (height * v + 8 * maxV - 1) / (8 * maxV);
                frame.coefficientBytes
                    += (columns + h - 1) / h * h * ((rows + v - 1) / v * v) * 64 * 2;
            }
            frame.known = true;
            frame.allCoefficients = progressive;
        }
        i += 2 + length;
    }
    return {};
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

// How a picture is read at a reduced size.
enum class Reading {
    Whole, // held at its full size, then scaled
    Rows, // row by row here (PNG)
    ByReader, // by the reader itself, a few rows held (sequential JPEG)
    AllCoefficients, // by the reader itself, every coefficient held (progressive JPEG)
};

struct Header {
    QSize size;
    Reading reading = Reading::Whole;
    qint64 coefficientBytes = 0;
};

// What the bytes announce, read before any pixel memory is taken.
Header readHeader(QImageReader& reader, const QByteArray& bytes)
{
    Header header { reader.size() };
    const QByteArray format = reader.format();
    QSize canvas;
    if (format == "png") {
        if (pngReadsInRows(bytes))
            header.reading = Reading::Rows;
    } else if (format == "jpeg" || format == "jpg") {
        if (const JpegFrame frame = jpegFrame(bytes); frame.known) {
            header.reading = frame.allCoefficients ? Reading::AllCoefficients : Reading::ByReader;
            // Only a decoder that keeps every coefficient pays for them all; one reading a
            // single scan holds a few rows of them.
            if (frame.allCoefficients)
                header.coefficientBytes = frame.coefficientBytes;
        }
    } else if (format == "gif")
        canvas = gifCanvas(bytes);
    else if (bytes.startsWith(QByteArrayView("\0\0\1\0", 4))
        || bytes.startsWith(QByteArrayView("\0\0\2\0", 4)))
        canvas = iconCanvas(bytes); // the icon reader names no format
    if (header.size.isValid() && canvas.isValid())
        header.size = header.size.expandedTo(canvas);
    return header;
}

// The decodes that hold every coefficient of a picture take turns: one is as much as a process
// should spend on a picture at once.
std::mutex allCoefficientsTurn;

QImage readWithReader(QImageReader& reader, const Header& header)
{
    if (header.reading != Reading::AllCoefficients)
        return reader.read();
    std::lock_guard turn(allCoefficientsTurn);
    return reader.read();
}

bool within(QSize size, int maxSide, qint64 maxPixels)
{
    return size.isValid() && size.width() <= maxSide && size.height() <= maxSide
        && qint64(size.width()) * size.height() <= maxPixels;
}

} // namespace

QImage decodeImage(const QByteArray& bytes, const ImageUse& use, ImageRefusal* refusal)
{
    auto refuse = [refusal](ImageRefusal why) {
        if (refusal)
            *refusal = why;
        return QImage();
    };
    if (refusal)
        *refusal = ImageRefusal::None;
    if (bytes.isEmpty())
        return refuse(ImageRefusal::NoPicture);
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const Header header = readHeader(reader, bytes);
    if (!header.size.isValid())
        return refuse(ImageRefusal::NoPicture);
    if (!within(header.size, use.maxSide, maxAnnouncedImagePixels))
        return refuse(ImageRefusal::TooLarge);
    const qint64 pixels = qint64(header.size.width()) * header.size.height();
    // The reader turns the picture upright after reading it at the size it is stored.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize size = turned ? header.size.transposed() : header.size;
    const QSize cover = use.cover;
    // The side that needs the larger scale takes the cover's exactly; the other is rounded up.
    const qint64 w = size.width();
    const qint64 h = size.height();
    QSize reduced;
    if (!cover.isEmpty() && pixels > use.readWholeUpTo) {
        if (cover.width() * h >= cover.height() * w)
            reduced = QSize(cover.width(), int((h * cover.width() + w - 1) / w));
        else
            reduced = QSize(int((w * cover.height() + h - 1) / h), cover.height());
    }
    const bool full = reduced.isEmpty() || reduced.width() >= w || reduced.height() >= h;
    // A picture that is read whole costs its full size, whatever it is drawn at; one whose
    // decoder holds every coefficient costs those.
    if (((full || header.reading == Reading::Whole) && pixels > use.maxWholePixels)
        || header.coefficientBytes > maxJpegCoefficientBytes)
        return refuse(ImageRefusal::TooLarge);
    QImage image;
    if (full)
        image = readWithReader(reader, header);
    else if (header.reading == Reading::Whole)
        image = readWithReader(reader, header)
                    .scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    else if (header.reading == Reading::Rows)
        image = readPngReduced(bytes, reduced, use.maxSide);
    else {
        reader.setScaledSize(turned ? reduced.transposed() : reduced);
        image = readWithReader(reader, header);
    }
    return image.isNull() ? refuse(ImageRefusal::NoPicture) : image;
}

} // namespace Tickerly::Foundation

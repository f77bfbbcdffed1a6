#include "platform/foundation/ImageDecoding.h"

#include <QBuffer>
#include <QImageReader>

#include <limits>

namespace {

// The picture's announced size when it is within the bounds.
QSize boundedSize(QImageReader& reader, int maxSide)
{
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSide || size.height() > maxSide
        || qint64(size.width()) * size.height() > maxDecodedImagePixels)
        return {};
    return size;
}

} // namespace

QImage decodeImage(const QByteArray& bytes, int maxSide)
{
    return decodeImageToCover(bytes, QSize(), std::numeric_limits<qint64>::max(), maxSide);
}

QImage decodeImageToCover(const QByteArray& bytes, QSize cover, qint64 reduceAbove, int maxSide)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = boundedSize(reader, maxSide);
    if (!size.isValid())
        return {};
    if (cover.isEmpty() || qint64(size.width()) * size.height() <= reduceAbove)
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
    if (!reader.supportsOption(QImageIOHandler::ScaledSize))
        return reader.read().scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    reader.setScaledSize(reduced);
    return reader.read();
}

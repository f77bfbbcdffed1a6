#include "platform/foundation/ImageDecoding.h"

#include <QBuffer>
#include <QImageReader>

QImage decodeImage(const QByteArray& bytes, int maxSide)
{
    if (bytes.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSide || size.height() > maxSide
        || qint64(size.width()) * size.height() > maxDecodedImagePixels)
        return {};
    return reader.read();
}

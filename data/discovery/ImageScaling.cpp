#include "data/discovery/ImageScaling.h"

#include <QPainter>

#include <cmath>
#include <mutex>

namespace Tickerly::Data {

using namespace Qt::Literals::StringLiterals;

namespace {

// The mask is compiled into this library, so both programs find the same one.
const QImage& squircleMask()
{
    // Never destroyed: icons may still be scaled on a worker while the process ends.
    static const auto& mask = *new QImage(u":/tickerlydata/squirclemask.png"_s);
    return mask;
}

} // namespace

QImage scaleAndSquircle(const QImage& image, const QSizeF& size)
{
    return scaleAndApplyMask(image, size, squircleMask());
}

QImage scaleAndApplyMask(const QImage& image, const QSizeF& size, const QImage& maskImage)
{
    if (!std::isfinite(size.width()) || !std::isfinite(size.height()) || size.width() < 1
        || size.height() < 1 || size.width() > 16384 || size.height() > 16384 || image.isNull()
        || image.width() < 1 || image.height() < 1)
        return {};
    const int width = int(size.width());
    const int height = int(size.height());
    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return {};
    canvas.fill(Qt::transparent);

    // Aspect fill: cover the canvas, centred, overflowing on one axis.
    const double scale = std::max(double(width) / image.width(), double(height) / image.height());
    const double drawnWidth = image.width() * scale;
    const double drawnHeight = image.height() * scale;
    const double x = (width - drawnWidth) / 2;
    const double y = (height - drawnHeight) / 2;
    // The smallest rectangle with whole-number edges holding the drawing.
    const int left = int(std::floor(x));
    const int top = int(std::floor(y));
    const QRect rect(
        left, top, int(std::ceil(x + drawnWidth)) - left, int(std::ceil(y + drawnHeight)) - top);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(rect, image);
    if (!maskImage.isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(rect, maskImage);
    }
    painter.end();
    return canvas;
}

} // namespace Tickerly::Data

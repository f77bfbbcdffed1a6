// The story list's stand-in pictures.
//
//   tickerly_default.png   100×150 picture of a story that has none: a soft slate gradient with
//                          a faint outline of a page of text.
//   default icon.png       64×64 icon of a source that has none: a grey squircle with three
//                          white arcs around a dot.

#include "Resource.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QString>

using namespace Qt::Literals::StringLiterals;

namespace {

QImage defaultStoryPicture()
{
    constexpr int width = 100, height = 150;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, width, height);
    background.setColorAt(0, QColor(0x5b, 0x6b, 0x7f));
    background.setColorAt(1, QColor(0x33, 0x3d, 0x4b));
    painter.fillRect(image.rect(), background);

    // A page with a picture block and lines of text, centred; drawn faintly so it reads as a
    // placeholder beside real pictures.
    const QRectF page(26, 41, 48, 68);
    painter.setPen(QPen(QColor(255, 255, 255, 150), 2));
    painter.setBrush(QColor(255, 255, 255, 30));
    painter.drawRoundedRect(page, 5, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 110));
    painter.drawRoundedRect(QRectF(page.left() + 8, page.top() + 8, page.width() - 16, 18), 2, 2);
    for (int line = 0; line < 4; ++line) {
        const double lineWidth = line == 3 ? 18 : page.width() - 16;
        painter.drawRoundedRect(
            QRectF(page.left() + 8, page.top() + 33 + line * 8, lineWidth, 3.5), 1.5, 1.5);
    }
    return image;
}

QImage defaultSourceIcon()
{
    constexpr int side = 64;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, side);
    background.setColorAt(0, QColor(0x9a, 0xa3, 0xad));
    background.setColorAt(1, QColor(0x74, 0x7d, 0x88));
    painter.fillPath(squirclePath(QRectF(0, 0, side, side)), background);

    // A dot in the lower left corner with arcs spreading from it.
    const QPointF origin(19, 45);
    painter.setBrush(Qt::white);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(origin, 4.5, 4.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    for (const double radius : { 14.0, 25.0 })
        painter.drawArc(
            QRectF(origin.x() - radius, origin.y() - radius, 2 * radius, 2 * radius), 0, 90 * 16);
    return image;
}

const bool storyPictureRegistered = registerImage(u"tickerly_default.png"_s, defaultStoryPicture);
const bool sourceIconRegistered = registerImage(u"default icon.png"_s, defaultSourceIcon);

} // namespace

// The glyphs of story rows, white on transparent, drawn at twice their size in points:
//
//   story close.png      28×28  an ×, the row's close button (14 pt)
//   story share.png      28×28  a tray with an arrow out of it, the row's share button
//   twitter icon.png     56×56  a speech bubble (the post option, 28 pt)
//   facebook icon.png    56×56  two people (the friends' feed option)
//   instapaper icon.png  56×56  a bookmark ribbon (the save-for-later option)
//   readability icon.png 56×56  an open book (the reader option)
//   share mail.png       56×56  an envelope (the mail sharing service)

#include "Resource.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <initializer_list>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kButtonSide = 28;
constexpr int kOptionSide = 56;

// Runs `draw` on a transparent square with a white pen of `width` pixels.
QImage glyph(int side, qreal width, const std::function<void(QPainter&)>& draw)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    draw(painter);
    return image;
}

QPainterPath polyline(std::initializer_list<QPointF> points, bool closed = false)
{
    QPainterPath path;
    for (const QPointF& point : points) {
        if (path.elementCount() == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    if (closed)
        path.closeSubpath();
    return path;
}

QImage closeGlyph()
{
    return glyph(kButtonSide, 3, [](QPainter& p) {
        p.drawLine(QPointF(7, 7), QPointF(21, 21));
        p.drawLine(QPointF(21, 7), QPointF(7, 21));
    });
}

QImage shareGlyph()
{
    return glyph(kButtonSide, 2.5, [](QPainter& p) {
        p.drawPath(
            polyline({ { 9, 11 }, { 6, 11 }, { 6, 24 }, { 22, 24 }, { 22, 11 }, { 19, 11 } }));
        p.drawLine(QPointF(14, 4), QPointF(14, 17));
        p.drawPath(polyline({ { 10, 8 }, { 14, 4 }, { 18, 8 } }));
    });
}

QImage bubbleGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(8, 10, 40, 28), 10, 10);
        const QPainterPath tail = polyline({ { 17, 36 }, { 14, 47 }, { 27, 37 } });
        p.drawPath(bubble.united(tail).simplified());
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(19 + i * 9, 24), 2.8, 2.8);
    });
}

QImage peopleGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        p.drawEllipse(QPointF(21, 19), 7, 7);
        p.drawArc(QRectF(8, 31, 26, 24), 0, 180 * 16);
        p.drawLine(QPointF(8, 43), QPointF(34, 43));
        p.drawEllipse(QPointF(37, 22), 5.5, 5.5);
        p.drawArc(QRectF(31, 33, 18, 18), 0, 120 * 16);
        p.drawLine(QPointF(40, 42), QPointF(49, 42));
    });
}

QImage ribbonGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        p.drawPath(polyline({ { 16, 8 }, { 40, 8 }, { 40, 48 }, { 28, 38 }, { 16, 48 } }, true));
    });
}

QImage bookGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        QPainterPath left;
        left.moveTo(28, 16);
        left.cubicTo(22, 11, 14, 11, 7, 13);
        left.lineTo(7, 43);
        left.cubicTo(14, 41, 22, 41, 28, 46);
        QPainterPath right;
        right.moveTo(28, 16);
        right.cubicTo(34, 11, 42, 11, 49, 13);
        right.lineTo(49, 43);
        right.cubicTo(42, 41, 34, 41, 28, 46);
        p.drawPath(left);
        p.drawPath(right);
        p.drawLine(QPointF(28, 16), QPointF(28, 46));
    });
}

QImage envelopeGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        p.drawRoundedRect(QRectF(7, 13, 42, 30), 4, 4);
        p.drawPath(polyline({ { 9, 16 }, { 28, 31 }, { 47, 16 } }));
    });
}

const bool registered = registerImage(u"story close.png"_s, closeGlyph)
    && registerImage(u"story share.png"_s, shareGlyph)
    && registerImage(u"twitter icon.png"_s, bubbleGlyph)
    && registerImage(u"facebook icon.png"_s, peopleGlyph)
    && registerImage(u"instapaper icon.png"_s, ribbonGlyph)
    && registerImage(u"readability icon.png"_s, bookGlyph)
    && registerImage(u"share mail.png"_s, envelopeGlyph);

} // namespace

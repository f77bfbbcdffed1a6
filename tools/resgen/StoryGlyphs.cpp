// The glyphs of story rows, white on transparent, drawn at twice their size in points:
//
//   story close.png      28×28  an ×, the row's close button (14 pt)
//   story share.png      28×28  a tray with an arrow out of it, the row's share button
//   twitter icon.png     56×56  a speech bubble (the post option, 28 pt)
//   facebook icon.png    56×56  two people (the friends' feed option)
//   instapaper icon.png  56×56  a bookmark ribbon (the save-for-later option)
//   readability icon.png 56×56  an open book (the reader option)

#include "Resource.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <functional>

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
        QPainterPath tray;
        tray.moveTo(9, 11);
        tray.lineTo(6, 11);
        tray.lineTo(6, 24);
        tray.lineTo(22, 24);
        tray.lineTo(22, 11);
        tray.lineTo(19, 11);
        p.drawPath(tray);
        p.drawLine(QPointF(14, 4), QPointF(14, 17));
        QPainterPath head;
        head.moveTo(10, 8);
        head.lineTo(14, 4);
        head.lineTo(18, 8);
        p.drawPath(head);
    });
}

QImage bubbleGlyph()
{
    return glyph(kOptionSide, 4, [](QPainter& p) {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(8, 10, 40, 28), 10, 10);
        QPainterPath tail;
        tail.moveTo(17, 36);
        tail.lineTo(14, 47);
        tail.lineTo(27, 37);
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
        QPainterPath ribbon;
        ribbon.moveTo(16, 8);
        ribbon.lineTo(40, 8);
        ribbon.lineTo(40, 48);
        ribbon.lineTo(28, 38);
        ribbon.lineTo(16, 48);
        ribbon.closeSubpath();
        p.drawPath(ribbon);
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

const bool registered = registerImage(u"story close.png"_s, closeGlyph)
    && registerImage(u"story share.png"_s, shareGlyph)
    && registerImage(u"twitter icon.png"_s, bubbleGlyph)
    && registerImage(u"facebook icon.png"_s, peopleGlyph)
    && registerImage(u"instapaper icon.png"_s, ribbonGlyph)
    && registerImage(u"readability icon.png"_s, bookGlyph);

} // namespace

#pragma once

#include "storylist/Namespace.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

namespace Tickerly::StoryList {

// The look of story rows in one place: fonts, colours, glyph sizes and the few paddings the
// row's constraints leave open. Sizes are in points (logical pixels).
namespace RowStyle {

// The system font at `points` and `weight`.
QFont systemFont(qreal points, QFont::Weight weight = QFont::Normal);

// The row's fonts: headline bold 12, body regular 12, time bold 10. The time is set condensed
// so that "12:59 PM" fits its 45 points with the wider desktop fonts too.
QFont titleFont();
QFont bodyFont();
QFont timeFont();

// Text colours: headlines white, body and time in the platform's gray (white 0.5).
inline QColor defaultTextColor() { return QColor(255, 255, 255); }
inline QColor grayTextColor() { return QColor(128, 128, 128); }

// The hovered row's wash: white at 20 %.
inline QColor highlightColor() { return QColor(255, 255, 255, 51); }

// What shows behind a row pushed into the dismiss zone: the platform's plain red.
inline QColor dismissColor() { return QColor(255, 0, 0); }

// Close and share buttons are drawn half transparent, as their layer opacity says.
inline constexpr qreal rowButtonOpacity = 0.5;
// A pressed image button darkens its picture to this opacity on top of its own.
inline constexpr qreal pressedOpacity = 0.6;

// The row glyphs ("story close", "story share" and the option icons) are drawn by the resource
// generator at twice their size in points; this gives them that pixel ratio.
inline constexpr qreal drawnGlyphScale = 2.0;
QImage drawnGlyph(const QString& name);

} // namespace RowStyle

} // namespace Tickerly::StoryList

#pragma once

#include "app/Namespace.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>

namespace Tickerly::App {

// Colours and fonts the application's own views share, kept in one place.
namespace Style {

// The accent colours of the add and remove controls (calibrated RGB, opaque).
inline QColor accentGreen(double alpha = 1.0)
{
    return QColor::fromRgbF(0.1f, 0.67f, 0.13f, float(alpha));
}

inline QColor accentRed(double alpha = 1.0)
{
    return QColor::fromRgbF(0.8f, 0.04f, 0.06f, float(alpha));
}

// The platform's red, as behind the error banner's white text.
inline QColor systemRed() { return QColor::fromRgbF(0.92f, 0.23f, 0.19f); }

// A shade of grey as the drawing code names it: 0 black, 1 white.
inline QColor white(double level, double alpha = 1.0)
{
    return QColor::fromRgbF(float(level), float(level), float(level), float(alpha));
}

// Behind the story list, as dark as the widget panel it also shows in.
inline QColor storyListBackground() { return QColor(0x26, 0x28, 0x2c); }

// Titles of the self-drawn controls: the desktop's own user-interface font.
inline QFont controlFont() { return QGuiApplication::font(); }

// Section titles of forms such as the preferences: the interface font, bold.
inline QFont sectionTitleFont()
{
    QFont font = QGuiApplication::font();
    font.setBold(true);
    return font;
}

// Explanations and small print under a control: the interface font, a little smaller.
inline QFont footnoteFont()
{
    QFont font = QGuiApplication::font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    return font;
}

// Room between the sections of a form and around it.
inline constexpr int formMargin = 24;
inline constexpr int sectionSpacing = 20;

// A light face of the desktop's sans-serif font at `pixelSize`, for the large welcome texts.
inline QFont lightFont(int pixelSize)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Light);
    return font;
}

} // namespace Style

} // namespace Tickerly::App

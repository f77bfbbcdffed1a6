#include "storylist/RowStyle.h"

#include "platform/appkit/ImageNamed.h"

#include <QFontDatabase>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;

namespace RowStyle {

QFont systemFont(qreal points, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // Points here are the row's logical pixels, as the row's fixed geometry is.
    font.setPixelSize(qRound(points));
    font.setWeight(weight);
    return font;
}

QFont titleFont() { return systemFont(12, QFont::Bold); }

QFont bodyFont() { return systemFont(12); }

QFont timeFont()
{
    QFont font = systemFont(10, QFont::Bold);
    font.setStretch(QFont::Condensed);
    return font;
}

QImage drawnGlyph(const QString& name)
{
    QImage image = imageNamed(name);
    if (!image.isNull())
        image.setDevicePixelRatio(drawnGlyphScale);
    return image;
}

} // namespace RowStyle

} // namespace Tickerly::StoryList

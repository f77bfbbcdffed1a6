#include "storylist/ImageButton.h"

#include "platform/appkit/ConstraintLayout.h"
#include "storylist/RowStyle.h"

#include <QPainter>

namespace Tickerly::StoryList {

ImageButton::ImageButton(const QImage& image, QWidget* parent)
    : QAbstractButton(parent)
    , m_image(image)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ImageButton::setImage(const QImage& image)
{
    m_image = image;
    AppKit::invalidateIntrinsicContentSize(this);
    update();
}

void ImageButton::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    update();
}

QSize ImageButton::sizeHint() const
{
    return m_image.isNull() ? QSize(0, 0) : m_image.deviceIndependentSize().toSize();
}

void ImageButton::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    QSizeF size = m_image.deviceIndependentSize();
    if (size.width() > width() || size.height() > height())
        size = size.scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF target(
        QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(m_opacity * (isDown() ? RowStyle::pressedOpacity : 1.0));
    painter.drawImage(target, m_image);
}

} // namespace Tickerly::StoryList

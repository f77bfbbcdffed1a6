#include "app/shell/Button.h"

#include "app/shell/Style.h"

#include <QFontMetricsF>
#include <QPainter>

namespace Tickerly::App {

Button::Button(QWidget* parent)
    : Control(parent)
{
}

void Button::setBackgroundImage(std::optional<QImage> image)
{
    m_backgroundImage = std::move(image);
    update();
}

void Button::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void Button::setState(State state)
{
    m_state = state;
    update();
}

void Button::updateTrackingArea() { replaceTrackingArea(m_trackingArea); }

void Button::layout() { updateTrackingArea(); }

QRectF Button::titleRect() const
{
    const qreal h = QFontMetricsF(font()).height();
    // Y grows downwards here, so "one point up" is minus one.
    return QRectF(0, (height() - h) * 0.5 - 1.0, width(), h);
}

QSize Button::sizeHint() const
{
    if (m_backgroundImage && !m_backgroundImage->isNull())
        return m_backgroundImage->deviceIndependentSize().toSize();
    return QWidget::sizeHint();
}

void Button::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    double fill = 0.3;
    if (m_state == State::pressed)
        fill = 0.25;
    else if (m_state == State::hover)
        fill = 0.4;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::white(fill));
    painter.drawRoundedRect(QRectF(rect()).adjusted(2.0, 2.0, -2.0, -2.0), 4.0, 4.0);

    if (m_title.isEmpty())
        return;
    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(titleRect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, m_title);
}

void Button::mouseEntered() { setState(State::hover); }

void Button::mouseExited() { setState(State::normal); }

void Button::mouseDown(QMouseEvent*) { setState(State::pressed); }

void Button::mouseUp(QMouseEvent*)
{
    setState(State::hover);
    sendAction();
}

} // namespace Tickerly::App

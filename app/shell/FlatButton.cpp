#include "app/shell/FlatButton.h"

#include "app/shell/Style.h"
#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ViewKit.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

FlatButton::FlatButton(QWidget* parent)
    : Control(parent)
    , m_label(makeTitleLabel(QString(), Style::accentGreen()))
{
    setup();
}

QColor FlatButton::platformColor(Color color, double alpha)
{
    return color == Color::red ? Style::accentRed(alpha) : Style::accentGreen(alpha);
}

void FlatButton::setColor(Color color)
{
    m_color = color;
    updateState();
}

QString FlatButton::title() const { return m_label->text(); }

void FlatButton::setTitle(const QString& title) { m_label->setText(title); }

void FlatButton::setPressed(bool pressed)
{
    m_pressed = pressed;
    updateState();
}

void FlatButton::setup()
{
    updateState();
    updatePath();
    setupTitle();
    AppKit::setContentHuggingPriority(
        this, LayoutPriorities::Required, LayoutOrientation::Vertical);
    AppKit::setContentHuggingPriority(
        this, LayoutPriorities::Required, LayoutOrientation::Horizontal);
}

void FlatButton::setupTracking() { replaceTrackingArea(m_trackingArea); }

void FlatButton::setupTitle()
{
    addSubviews(this, m_label);
    setTextColor(m_label, Style::accentGreen());

    const QString format = u"|-(>=0)-[label]-(>=0)-|"_s;
    constraints(this, format, format, { { u"label"_s, m_label } });
    constraint(this, m_label, LayoutAttribute::CenterX, LayoutRelation::Equal, this,
        LayoutAttribute::CenterX, 1.0, 0.0, LayoutPriorities::Required);
    constraint(this, m_label, LayoutAttribute::CenterY, LayoutRelation::Equal, this,
        LayoutAttribute::CenterY, 1.0, -1.0, LayoutPriorities::Required);
}

void FlatButton::layout()
{
    updatePath();
    setupTracking();
}

void FlatButton::updatePath()
{
    QRectF frame(0, 0, std::max<qreal>(width(), 14.0), std::max<qreal>(height(), 14.0));
    frame.adjust(2.0, 2.0, -2.0, -2.0);
    // At rest the one-point outline sits on whole pixels.
    if (!m_pressed)
        frame.translate(0.5, 0.5);
    QPainterPath path;
    path.addRoundedRect(frame, 4.0, 4.0);
    m_background.path = path;
    update();
}

void FlatButton::updateState()
{
    m_background.fillColor = platformColor(m_color, m_pressed ? 1.0 : 0.0);
    m_background.strokeColor = platformColor(m_color, m_pressed ? 0.0 : 1.0);
    m_background.lineWidth = m_pressed ? 0.0 : 1.0;
    setTextColor(m_label, m_pressed ? QColor(Qt::white) : platformColor(m_color));
    updatePath();
}

QSize FlatButton::sizeHint() const
{
    const qreal textWidth = QFontMetricsF(font()).horizontalAdvance(m_label->text());
    return QSize(int(std::ceil(textWidth + 20.0)), 30);
}

void FlatButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_background.fillColor.alpha() > 0)
        painter.fillPath(m_background.path, m_background.fillColor);
    if (m_background.lineWidth > 0 && m_background.strokeColor.alpha() > 0)
        painter.strokePath(
            m_background.path, QPen(m_background.strokeColor, m_background.lineWidth));
}

void FlatButton::mouseDown(QMouseEvent*) { setPressed(true); }

void FlatButton::mouseUp(QMouseEvent*)
{
    // The target may delete the button (its row removed).
    if (m_pressed && !sendActionAndSurvive())
        return;
    setPressed(false);
}

void FlatButton::mouseExited() { setPressed(false); }

} // namespace Tickerly::App

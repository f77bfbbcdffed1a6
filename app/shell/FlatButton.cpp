#include "app/shell/FlatButton.h"

#include "app/shell/Style.h"
#include "platform/appkit/ConstraintLayout.h"
#include "storylist/ViewKit.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

FlatButton::FlatButton(QWidget* parent)
    : Control(parent)
    , m_label(new QLabel(this))
{
    setup();
}

QColor FlatButton::platformColor(Color color, double alpha)
{
    return color == Color::red ? style::accentRed(alpha) : style::accentGreen(alpha);
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
    appkit::setContentHuggingPriority(
        this, LayoutPriorities::Required, LayoutOrientation::Vertical);
    appkit::setContentHuggingPriority(
        this, LayoutPriorities::Required, LayoutOrientation::Horizontal);
}

void FlatButton::setupTracking()
{
    if (m_trackingArea)
        appkit::removeTrackingArea(this, m_trackingArea);
    m_trackingArea = std::make_shared<TrackingArea>(QRectF(rect()),
        TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow, this);
    appkit::addTrackingArea(this, m_trackingArea);
}

void FlatButton::setupTitle()
{
    addSubviews(this, m_label);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setTextInteractionFlags(Qt::NoTextInteraction);
    // Presses on the title are presses on the button.
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, style::accentGreen());
    m_label->setPalette(palette);
    m_label->setAutoFillBackground(false);
    m_label->setFrameShape(QFrame::NoFrame);
    m_label->setAlignment(Qt::AlignCenter);

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
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, m_pressed ? QColor(Qt::white) : platformColor(m_color));
    m_label->setPalette(palette);
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
    if (m_pressed) {
        // The target may delete this button (a removed row).
        QPointer<FlatButton> self(this);
        sendAction();
        if (!self)
            return;
    }
    setPressed(false);
}

void FlatButton::mouseExited() { setPressed(false); }

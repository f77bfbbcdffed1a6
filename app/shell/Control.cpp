#include "app/shell/Control.h"

#include "app/shell/Style.h"
#include "storylist/ViewKit.h"

#include <QLabel>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPointer>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;

Control::Control(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(QRect());
    setFont(Style::controlFont());
}

bool Control::sendAction()
{
    if (!isSignalConnected(QMetaMethod::fromSignal(&Control::action)))
        return false;
    Q_EMIT action(this);
    return true;
}

bool Control::sendActionAndSurvive()
{
    QPointer<Control> self(this);
    sendAction();
    return !self.isNull();
}

void Control::replaceTrackingArea(TrackingAreaRef& area)
{
    if (area)
        AppKit::removeTrackingArea(this, area);
    area = std::make_shared<TrackingArea>(QRectF(rect()),
        TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow, this);
    AppKit::addTrackingArea(this, area);
}

QLabel* Control::makeTitleLabel(const QString& text, const QColor& color)
{
    QLabel* label = initTextField(text, color, std::nullopt, this);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

void Control::setTextColor(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void Control::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    mouseDown(event);
}

void Control::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    mouseUp(event);
}

void Control::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layout();
}

} // namespace Tickerly::App

#include "app/shell/Control.h"

#include "app/shell/Style.h"

#include <QMetaMethod>
#include <QMouseEvent>

Control::Control(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(QRect());
    setFont(style::controlFont());
}

bool Control::sendAction()
{
    if (!isSignalConnected(QMetaMethod::fromSignal(&Control::action)))
        return false;
    Q_EMIT action(this);
    return true;
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

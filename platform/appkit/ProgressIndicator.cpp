#include "platform/appkit/ProgressIndicator.h"

#include "platform/foundation/base/MainQueue.h"

#include <QPainter>
#include <QPointer>

#include <cmath>
#include <utility>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

namespace {

constexpr int kSpokes = 12;
constexpr double kStepSeconds = 1.0 / 12;

} // namespace

ProgressIndicator::ProgressIndicator(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void ProgressIndicator::startAnimation(QObject*)
{
    if (m_animating)
        return;
    m_animating = true;
    show();
    step(++m_generation);
}

void ProgressIndicator::stopAnimation(QObject*)
{
    m_animating = false;
    m_resting = false;
    // A step already scheduled sees a newer generation and ends the old chain.
    ++m_generation;
    hide();
}

void ProgressIndicator::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void ProgressIndicator::step(unsigned generation)
{
    if (!m_animating || generation != m_generation)
        return;
    if (!isVisible()) {
        m_resting = true;
        return;
    }
    m_phase = (m_phase + 1) % kSpokes;
    update();
    MainQueue::dispatchAfter(
        kStepSeconds,
        [self = QPointer(this), generation] {
            if (self)
                self->step(generation);
        },
        this);
}

void ProgressIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_animating && std::exchange(m_resting, false))
        step(++m_generation);
}

void ProgressIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QPen pen(m_color, std::max(1.5, side / 10), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the phase is brightest; the ones behind it fade.
        const int age = (m_phase - i + kSpokes) % kSpokes;
        QColor c = m_color;
        c.setAlphaF(1.0 - 0.75 * age / double(kSpokes - 1));
        pen.setColor(c);
        painter.setPen(pen);
        const double angle = i * 2 * M_PI / kSpokes;
        const QPointF dir(std::sin(angle), -std::cos(angle));
        painter.drawLine(dir * side * 0.25, dir * side * 0.45);
    }
}

} // namespace Tickerly::AppKit

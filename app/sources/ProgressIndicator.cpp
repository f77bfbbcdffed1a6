#include "ProgressIndicator.h"

#include "platform/foundation/MainQueue.h"

#include <QPainter>
#include <QPointer>

#include <cmath>

namespace {
constexpr int kSpokes = 12;
constexpr double kStepSeconds = 1.0 / kSpokes;
}

ProgressIndicator::ProgressIndicator(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ProgressIndicator::startAnimation(QObject*)
{
    if (m_animating)
        return;
    m_animating = true;
    step(++m_generation);
}

void ProgressIndicator::stopAnimation(QObject*)
{
    m_animating = false;
    ++m_generation;
}

void ProgressIndicator::step(std::uint64_t generation)
{
    if (!m_animating || generation != m_generation)
        return;
    m_phase = (m_phase + 1) % kSpokes;
    update();
    QPointer<ProgressIndicator> self(this);
    MainQueue::dispatchAfter(
        kStepSeconds,
        [self, generation] {
            if (self)
                self->step(generation);
        },
        this);
}

void ProgressIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal inner = side * 0.22;
    const qreal outer = side * 0.48;
    QPen pen;
    pen.setWidthF(std::max<qreal>(1.5, side * 0.09));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // Spokes behind the bright one fade out, so the turn reads as a motion.
        const int behind = (m_phase - i + kSpokes) % kSpokes;
        const double alpha = m_animating ? 1.0 - behind * 0.07 : 0.45;
        pen.setColor(QColor::fromRgbF(0.35f, 0.35f, 0.35f, float(alpha)));
        painter.setPen(pen);
        const double angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
            QPointF(std::cos(angle) * outer, std::sin(angle) * outer));
    }
}

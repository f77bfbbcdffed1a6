#include "IntroductionView.h"

#include "app/shell/Button.h"
#include "app/shell/Style.h"
#include "data/sync/Localization.h"
#include "platform/appkit/AnimationContext.h"
#include "platform/foundation/base/MainQueue.h"
#include "storylist/ViewKit.h"

#include <QLabel>
#include <QPainter>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

StepImageView::StepImageView(const QImage& image, QWidget* parent)
    : QWidget(parent)
    , m_image(image)
{
}

void StepImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

double StepImageView::scale() const { return m_scale; }

void StepImageView::setScale(double scale)
{
    if (!m_wantsLayer)
        return;
    QPointer<StepImageView> guard(this);
    AnimationContext::animateValue(this, "transform", m_scale, scale, [guard](const QVariant& v) {
        if (!guard)
            return;
        guard->m_scale = v.toDouble();
        guard->update();
    });
}

QSize StepImageView::sizeHint() const
{
    return m_image.isNull() ? QSize(0, 0) : m_image.deviceIndependentSize().toSize();
}

void StepImageView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull() || m_scale <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Scaled about the centre: the steps grow out of their middles.
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(m_scale, m_scale);
    const QSizeF drawn
        = m_image.deviceIndependentSize().scaled(QSizeF(size()), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF(-drawn.width() / 2, -drawn.height() / 2), drawn), m_image);
}

IntroductionView::IntroductionView(QWidget* parent)
    : QWidget(parent)
{
}

void IntroductionView::awakeFromNib()
{
    prepareToAnimateIn();
    animateIn();
    if (m_title)
        m_title->setText(~u"Installing title"_s);
    if (m_doneButton)
        m_doneButton->setTitle(~u"Installing done"_s);
}

void IntroductionView::prepareToAnimateIn()
{
    for (StepImageView* step : { m_step1.data(), m_step2.data(), m_step3.data() }) {
        if (step)
            step->setScale(0.01);
    }
}

void IntroductionView::animateIn()
{
    const auto popAfter
        = [this](double seconds, QPointer<StepImageView> IntroductionView::*outlet) {
              MainQueue::dispatchAfter(
                  seconds,
                  [this, outlet] {
                      if (StepImageView* step = this->*outlet)
                          animateInStep(step);
                  },
                  this);
          };
    popAfter(0.5, &IntroductionView::m_step1);
    popAfter(1.0, &IntroductionView::m_step2);
    popAfter(1.5, &IntroductionView::m_step3);
}

void IntroductionView::animateInStep(StepImageView* step)
{
    QPointer<StepImageView> guard(step);
    auto grown = animate(this, [guard](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(0.3);
        context.setTimingFunction(AnimationContext::easeInEaseOut());
        if (guard)
            guard->setScale(1.1);
    });
    QPointer<IntroductionView> self(this);
    grown->setCompletion([self, guard] {
        animate(self, [guard](AnimationContext& context) {
            context.setAllowsImplicitAnimation(true);
            context.setDuration(0.2);
            context.setTimingFunction(AnimationContext::easeInEaseOut());
            if (guard)
                guard->setScale(1.0);
        });
    });
}

void IntroductionView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), Style::white(0.2));
}

} // namespace Tickerly::App

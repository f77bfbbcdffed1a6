#include "SourcesView.h"

#include "app/shell/Style.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/foundation/MainQueue.h"
#include "storylist/ViewKit.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr double kHiddenOffset = -30;
}

SourcesView::SourcesView(QWidget* parent)
    : QWidget(parent)
    , m_errorLabel(initTextField(u"Error"_s, QColor(Qt::white)))
{
    setup();
}

LayoutViews SourcesView::views() const { return { { u"error"_s, m_errorLabel } }; }

void SourcesView::setup()
{
    addSubviews(this, views().values());
    m_errorLabel->setAutoFillBackground(true);
    QPalette palette = m_errorLabel->palette();
    palette.setColor(QPalette::Window, style::systemRed());
    m_errorLabel->setPalette(palette);
    constraints(this, u"[error(20)]"_s, u"|[error]|"_s, views());
    m_errorTopConstraint = constraint(this, m_errorLabel, LayoutAttribute::Top,
        LayoutRelation::Equal, this, LayoutAttribute::Top);
    setErrorVisible(false);
}

bool SourcesView::errorVisible() const
{
    return m_errorTopConstraint && m_errorTopConstraint->constant() == 0;
}

void SourcesView::setErrorVisible(bool visible)
{
    if (m_errorTopConstraint)
        m_errorTopConstraint->setConstant(visible ? 0 : kHiddenOffset);
}

void SourcesView::showError(const QString& text)
{
    m_errorLabel->setText(text);
    // The banner stays above whatever the scene placed in the view later.
    m_errorLabel->raise();
    animate(this, [this](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(0.3);
        setErrorVisible(true);
        appkit::layoutSubtreeIfNeeded(this);
    });
    QPointer<SourcesView> weak(this);
    MainQueue::dispatchAfter(
        3.0,
        [weak] {
            if (!weak)
                return;
            animate(weak, [weak](AnimationContext& context) {
                if (!weak)
                    return;
                context.setAllowsImplicitAnimation(true);
                context.setDuration(0.4);
                weak->setErrorVisible(false);
                appkit::layoutSubtreeIfNeeded(weak);
            });
        },
        this);
}

void SourcesView::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), Qt::white); }

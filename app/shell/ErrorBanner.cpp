#include "app/shell/ErrorBanner.h"

#include "app/shell/Style.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/foundation/base/MainQueue.h"
#include "storylist/ViewKit.h"

#include <QLabel>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {
constexpr double kHiddenOffset = -30;

void place(const LayoutConstraintRef& top, bool shown)
{
    if (top)
        top->setConstant(shown ? 0 : kHiddenOffset);
}

void slide(QWidget* host, const LayoutConstraintRef& top, bool shown, double seconds)
{
    animate(host, [host, top, shown, seconds](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(seconds);
        place(top, shown);
        AppKit::layoutSubtreeIfNeeded(host);
    });
}
} // namespace

ErrorBanner::ErrorBanner(QWidget* host)
    : m_host(host)
    , m_label(initTextField(u"Error"_s, QColor(Qt::white)))
{
    addSubviews(host, { m_label });
    m_label->setAutoFillBackground(true);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::Window, Style::systemRed());
    m_label->setPalette(palette);
    const LayoutViews views { { u"error"_s, m_label } };
    constraints(host, u"[error(20)]"_s, u"|[error]|"_s, views);
    m_top = constraint(
        host, m_label, LayoutAttribute::Top, LayoutRelation::Equal, host, LayoutAttribute::Top);
    setShown(false);
}

bool ErrorBanner::isShown() const { return m_top && m_top->constant() == 0; }

void ErrorBanner::setShown(bool shown) { place(m_top, shown); }

void ErrorBanner::show(const QString& text)
{
    if (!m_host)
        return;
    m_label->setText(text);
    // The banner stays above whatever was placed in the host later.
    m_label->raise();
    slide(m_host, m_top, true, 0.3);
    // Holds nothing of this object, which may go before its host; dropped with the label.
    MainQueue::dispatchAfter(
        3.0,
        [host = m_host, top = m_top] {
            if (host)
                slide(host, top, false, 0.4);
        },
        m_label);
}

} // namespace Tickerly::App

#include "app/shell/WidgetScrollView.h"

#include "app/shell/Spinner.h"
#include "storylist/ViewKit.h"

#include <algorithm>
#include <cmath>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

// The strip above the list that stays out of reach while no refresh runs.
constexpr double kHiddenStrip = 76;
// One more than the strip, so the list at rest is pulled by 1.
constexpr int kPullOffset = 77;
constexpr int kTriggerThreshold = 31;
constexpr float kFramesPerPoint = 3;
constexpr int kLastFrame = 127;
constexpr double kSpinnerSize = 50;
constexpr double kAnimationDuration = 0.3;

} // namespace

WidgetScrollViewDelegate::~WidgetScrollViewDelegate() = default;

// WidgetClipView

WidgetClipView::WidgetClipView(QWidget* parent)
    : ClipView(parent)
{
}

void WidgetClipView::setShowsTop(bool showsTop)
{
    m_showsTop = showsTop;
    layout();
}

QRectF WidgetClipView::documentRect() const { return documentRectFrom(ClipView::documentRect()); }

QRectF WidgetClipView::documentRectFrom(const QRectF& rect) const
{
    // The top is replaced, not moved down: the strip always starts at the document's top.
    const double top = m_showsTop ? 0 : kHiddenStrip;
    return QRectF(rect.x(), top, rect.width(), rect.height() - top);
}

// RefreshView

RefreshView::RefreshView()
    : QWidget(nullptr)
    , m_spinner(new Spinner)
{
    setup();
}

void RefreshView::setup()
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    addSubviews(this, m_spinner);
    constraint(this, m_spinner, LayoutAttribute::CenterX, LayoutRelation::Equal, this,
        LayoutAttribute::CenterX);
    constraint(this, m_spinner, LayoutAttribute::CenterY, LayoutRelation::Equal, this,
        LayoutAttribute::CenterY);
    constraint(this, m_spinner, LayoutAttribute::Width, LayoutRelation::Equal, nullptr,
        LayoutAttribute::NotAnAttribute, 1.0, kSpinnerSize);
    constraint(this, m_spinner, LayoutAttribute::Height, LayoutRelation::Equal, nullptr,
        LayoutAttribute::NotAnAttribute, 1.0, kSpinnerSize);
}

void RefreshView::setRefreshing(bool refreshing)
{
    m_refreshing = refreshing;
    if (refreshing)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
}

// WidgetScrollView

WidgetScrollView::WidgetScrollView(QWidget* parent)
    : ScrollView(parent)
    , m_refreshView(new RefreshView)
{
}

WidgetScrollView::~WidgetScrollView()
{
    // Never placed (no setupRefreshView): nobody else owns it.
    if (!m_refreshView->parent())
        delete m_refreshView;
}

WidgetScrollViewDelegate* WidgetScrollView::delegate() const { return m_delegate.get(); }

void WidgetScrollView::setDelegate(WidgetScrollViewDelegate* delegate) { m_delegate.set(delegate); }

void WidgetScrollView::setRefreshing(bool refreshing)
{
    m_refreshing = refreshing;
    m_refreshView->setRefreshing(refreshing);
    clipView()->setShowsTop(refreshing);
}

LayoutViews WidgetScrollView::views() const { return { { u"refresh"_s, m_refreshView } }; }

WidgetClipView* WidgetScrollView::clipView() const
{
    auto* clip = qobject_cast<WidgetClipView*>(contentView());
    if (!clip)
        qFatal("WidgetScrollView needs a WidgetClipView as its clip view");
    return clip;
}

void WidgetScrollView::awakeFromNib() { setupRefreshView(); }

void WidgetScrollView::setupRefreshView()
{
    contentView()->addSubview(m_refreshView);
    constraints(this, u"|-20-[refresh(75)]"_s, u"|[refresh]|"_s, views());
}

int WidgetScrollView::pullDistance(double clipOriginY)
{
    return static_cast<int>(std::trunc(-clipOriginY)) + kPullOffset;
}

int WidgetScrollView::frameForPull(int pullDistance)
{
    return std::min(
        kLastFrame, static_cast<int>(kFramesPerPoint * static_cast<float>(pullDistance)));
}

void WidgetScrollView::scrollWheel(const ScrollEvent& event)
{
    ScrollView::scrollWheel(event);
    const int pull = pullDistance(clipView()->bounds().y());
    if ((event.phase & ScrollEvent::Ended) && !m_refreshing && pull >= kTriggerThreshold) {
        animate(this, [this](AnimationContext& context) {
            context.setAllowsImplicitAnimation(true);
            context.setDuration(kAnimationDuration);
            setRefreshing(true);
        });
        if (WidgetScrollViewDelegate* d = delegate())
            d->wantsRefresh(this);
    }
    // A delegate that finished at once has closed the strip again: the pull's frame shows.
    if (!m_refreshing)
        m_refreshView->spinner()->setProgress(frameForPull(pull));
}

void WidgetScrollView::finishRefresh()
{
    animate(this, [this](AnimationContext& context) {
        context.setAllowsImplicitAnimation(true);
        context.setDuration(kAnimationDuration);
        setRefreshing(false);
        clipView()->scrollPoint(QPointF(0, 0));
    });
}

} // namespace Tickerly::App

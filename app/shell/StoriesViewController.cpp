#include "app/shell/StoriesViewController.h"

#include "platform/appkit/Sound.h"
#include "platform/foundation/MainQueue.h"

using namespace Qt::Literals::StringLiterals;

StoriesViewController::StoriesViewController(
    const std::optional<QString>& nibName, const std::optional<Bundle>& bundle)
    : StoriesBaseViewController(nibName, bundle)
{
}

void StoriesViewController::viewDidLoad()
{
    StoriesBaseViewController::viewDidLoad();
    dataSource.setExpanded(true);
    dataSource.updateContents();
    if (m_scrollView)
        m_scrollView->setDelegate(this);
    scheduleRefresh();
}

void StoriesViewController::scheduleRefresh()
{
    // Timed refreshes make no sound and leave the strip alone; a manual one does not move them.
    QPointer<StoriesViewController> self(this);
    MainQueue::dispatchAfter(
        refreshInterval,
        [self] {
            if (!self)
                return;
            self->dataSource.updateContents();
            self->scheduleRefresh();
        },
        this);
}

void StoriesViewController::wantsRefresh(WidgetScrollView*) { refresh(); }

void StoriesViewController::refresh()
{
    playSound(u"clickwave.wav"_s);
    QPointer<WidgetScrollView> scrollView = m_scrollView;
    dataSource.updateContents([scrollView](NCUpdateResult) {
        if (scrollView)
            scrollView->finishRefresh();
    });
}

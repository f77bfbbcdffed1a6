#include "app/shell/StoriesViewController.h"

#include "platform/appkit/Sound.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/appkit/TableView.h"
#include "storylist/TodayView.h"

#include <QEvent>

#include <algorithm>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

StoriesViewController::StoriesViewController(
    const std::optional<QString>& nibName, const std::optional<Bundle>& bundle)
    : StoriesBaseViewController(nibName, bundle)
{
}

void StoriesViewController::viewDidLoad()
{
    StoriesBaseViewController::viewDidLoad();
    if (QWidget* content = view())
        m_banner = std::make_unique<ErrorBanner>(content);
    dataSource.setExpanded(true);
    dataSource.updateContents();
    if (m_scrollView)
        m_scrollView->setDelegate(this);
    scheduleRefresh();
    // The refresh leaves this thread waiting on its answers: the rows its list needs are made
    // then, once the window is first painted, rather than when the list arrives.
    if (QWidget* content = view())
        content->installEventFilter(this);
}

bool StoriesViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == view()) {
        watched->removeEventFilter(this);
        MainQueue::dispatchAsync([this] { prepareRows(); }, this);
    }
    return StoriesBaseViewController::eventFilter(watched, event);
}

void StoriesViewController::prepareRows()
{
    TableView* table = contentView()->tableView();
    if (!table)
        return;
    const int shown = table->numberOfRows() - extraRows();
    table->prepareViewsWithIdentifier(u"cell"_s, dataSource.limit - std::max(shown, 0), this);
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

void StoriesViewController::showError(const QString& text)
{
    if (m_banner)
        m_banner->show(text);
}

} // namespace Tickerly::App

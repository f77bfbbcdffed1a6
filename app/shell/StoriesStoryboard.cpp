#include "app/shell/StoriesStoryboard.h"

#include "app/shell/StoriesViewController.h"
#include "app/shell/Style.h"
#include "app/shell/WidgetScrollView.h"
#include "app/shell/Window.h"
#include "platform/appkit/Controllers.h"
#include "storylist/Label.h"
#include "storylist/TodayView.h"
#include "storylist/ViewKit.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

TodayView* storiesView(StoriesViewController* owner)
{
    auto* view = new TodayView;
    view->setAutoFillBackground(true);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, Style::storyListBackground());
    view->setPalette(palette);

    TableView* table = StoriesBaseViewController::makeStoryTable(owner);
    auto* scrollView = new WidgetScrollView;
    scrollView->setContentView(new WidgetClipView);
    scrollView->setDocumentView(table);
    addSubviews(view, scrollView);
    constraints(view, u"|[scroll]|"_s, u"|[scroll]|"_s, { { u"scroll"_s, scrollView } });
    // "No news" stays in front of the list.
    view->emptyLabel->raise();

    view->setTableView(table);
    owner->setScrollView(scrollView);
    scrollView->awakeFromNib();
    return view;
}

std::shared_ptr<QObject> storiesScene(Window* window)
{
    auto controller = makeController<WindowController>(window);
    auto content = std::make_unique<StoriesViewController>();
    content->setView(storiesView(content.get()));
    controller->setContentViewController(std::move(content));
    return controller;
}

} // namespace Tickerly::App

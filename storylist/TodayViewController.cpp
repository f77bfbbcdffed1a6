#include "storylist/TodayViewController.h"

#include "storylist/ListCellView.h"
#include "storylist/Preferences.h"
#include "storylist/TodayView.h"

#include <QAbstractButton>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;

TodayViewController::TodayViewController(
    const std::optional<QString>&, const std::optional<Bundle>& bundle)
    : StoriesBaseViewController(QString::fromUtf16(interfaceName), bundle)
{
}

TodayViewController::~TodayViewController() = default;

void TodayViewController::viewDidLoad()
{
    StoriesBaseViewController::viewDidLoad();
    if (QAbstractButton* button = contentView()->expandButton()) {
        connect(button, &QAbstractButton::clicked, this,
            [this, button] { expandButtonPressed(button); });
    }
    setExpanded(Preferences().widgetExpanded());
    contentView()->updateHeight(dataSource.numberOfItems());
}

void TodayViewController::setExpanded(bool expanded)
{
    m_expanded = expanded;
    dataSource.setExpanded(expanded);
    contentView()->setExpanded(expanded);
    if (TableView* table = contentView()->tableView())
        contentView()->updateHeight(dataSource.numberOfRowsInTableView(table));
}

void TodayViewController::expandButtonPressed(QObject*)
{
    setExpanded(!m_expanded);
    // The widget shows the state already; one the store refused (it says so in the log) is only
    // not remembered.
    (void)Preferences().setWidgetExpanded(m_expanded);
}

void TodayViewController::widgetPerformUpdateWithCompletionHandler(
    CompletionHandler completionHandler)
{
    dataSource.updateContents([completionHandler](NCUpdateResult result) {
        if (completionHandler)
            completionHandler(result);
    });
}

EdgeInsets TodayViewController::widgetMarginInsetsForProposedMarginInsets(EdgeInsets)
{
    return { 0, 0, 0, 0 };
}

void TodayViewController::didReload(TodayDataSource* source)
{
    StoriesBaseViewController::didReload(source);
    contentView()->updateHeight(dataSource.numberOfItems());
}

QWidget* TodayViewController::viewForTableColumn(TableView* tableView, int column, int row)
{
    QWidget* view = StoriesBaseViewController::viewForTableColumn(tableView, column, row);
    if (auto* cell = dynamic_cast<ListCellView*>(view))
        cell->setButtonsAlwaysVisible(true);
    return view;
}

} // namespace Tickerly::StoryList

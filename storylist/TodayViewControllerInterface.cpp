#include "storylist/TodayViewControllerInterface.h"

#include "data/sync/Localization.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/TableView.h"
#include "storylist/ListCellView.h"
#include "storylist/RowStyle.h"
#include "storylist/TodayView.h"
#include "storylist/TodayViewController.h"
#include "storylist/ViewKit.h"

#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// The widget's story list: rows 75 points high and 2 apart, and under them a 30-point strip
// with the expand button across it and the progress wheel at its right end, clear of the
// rows' times and buttons.
QWidget* makeTodayView(ViewController* owner)
{
    auto* controller = qobject_cast<StoriesBaseViewController*>(owner);
    if (!controller)
        return nullptr;
    auto* view = new TodayView;
    auto* table = new TableView;
    table->registerCellPrototype(u"cell"_s, [](QObject*) { return new ListCellView; });
    table->setRowHeight(75);
    table->setIntercellSpacing(2);
    table->setDelegate(controller);
    QPushButton* button = initButton(~u"Show more"_s);
    button->setFlat(true);
    button->setFont(rowstyle::systemFont(12, true));
    auto* spinner = new ProgressIndicator;

    addSubviews(view, table, button, spinner);
    const LayoutViews views { { u"table"_s, table }, { u"button"_s, button }, { u"spinner"_s, spinner } };
    constraints(view, u"|[table][button(30)]|"_s, u"|[table]|"_s, views);
    constraints(view, std::nullopt, u"|[button]|"_s, views);
    constraints(view, u"[spinner(16)]-7-|"_s, u"[spinner(16)]-8-|"_s, views);
    view->setTableView(table);
    view->setExpandButton(button);
    view->setSpinner(spinner);
    return view;
}

} // namespace

void registerTodayViewControllerInterface()
{
    const QString name = QString::fromUtf16(TodayViewController::interfaceName);
    if (!ViewController::hasInterface(name))
        ViewController::registerInterface(name, makeTodayView);
}

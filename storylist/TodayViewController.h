#pragma once

#include "storylist/Namespace.h"
#include "platform/notificationcenter/WidgetProviding.h"
#include "storylist/StoriesBaseViewController.h"

#include <QString>

#include <optional>

class QObject;

namespace Tickerly::StoryList {

// The widget's principal view controller: the story list, loaded from the interface
// "TodayViewController", with an expanded or collapsed state that follows and writes the
// shared `widgetExpanded` setting, a view that sizes itself to its rows after every reload,
// and row buttons that show without hovering. The widget host makes it, asks it for its
// margins and to update. The application compiles it too but never makes one.
//
// Main thread only; whoever makes it owns it.
class TodayViewController : public StoriesBaseViewController,
                            public WidgetInterface::NCWidgetProviding {
    Q_OBJECT
public:
    static constexpr char16_t interfaceName[] = u"TodayViewController";

    // The interface is always "TodayViewController", whatever name is given.
    explicit TodayViewController(const std::optional<QString>& nibName = std::nullopt,
        const std::optional<Foundation::Bundle>& bundle = std::nullopt);
    ~TodayViewController() override;

    void viewDidLoad() override;
    void didReload(TodayDataSource* dataSource) override;
    QWidget* viewForTableColumn(AppKit::TableView* tableView, int column, int row) override;

    // Hands the data source's result on unchanged.
    void widgetPerformUpdateWithCompletionHandler(CompletionHandler completionHandler) override;
    // No margins, whatever is proposed.
    WidgetInterface::EdgeInsets widgetMarginInsetsForProposedMarginInsets(
        WidgetInterface::EdgeInsets defaultMarginInsets) override;
    // The expand button's action: flips `expanded` and stores it in the shared setting.
    void expandButtonPressed(QObject* sender);

    bool expanded() const { return m_expanded; }
    // Every set, also of the same value, drives the data source, the view's button title and
    // its height.
    void setExpanded(bool expanded);

private:
    bool m_expanded = false;
};

} // namespace Tickerly::StoryList

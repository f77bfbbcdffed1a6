#pragma once

#include "storylist/Namespace.h"
#include "api/TickerlyAPIClient.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/Controllers.h"
#include "platform/foundation/base/Bundle.h"
#include "storylist/ListCellView.h"
#include "storylist/TodayDataSource.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QMouseEvent;

namespace Tickerly::Data {
class NewsStory;
} // namespace Tickerly::Data

namespace Tickerly::StoryList {

class TodayView;

// The controller behind every story list (the widget's and the application's stories window):
// owns the list's data source and an API client, shows the data source's stories in its view's
// table, and carries out what the user does to a row: a press marks the story read, reports
// the click and opens the story in the browser; a close or a swipe removes it; the four row
// options open share pages; a right click offers "Copy link" and the sharing services.
//
// Subclasses add rows above the stories (`extraRows`) and finish loading in `viewDidLoad`,
// calling the base. Main thread only; whoever makes it owns it.
class StoriesBaseViewController : public AppKit::ViewController,
                                  public TodayDataSourceDelegate,
                                  public ListCellViewDelegate,
                                  public AppKit::TableViewDelegate {
    Q_OBJECT
public:
    // The row options; the raw value is the option button's identifier.
    enum class Options { facebook, twitter, instapaper, readability };
    static QString rawValue(Options option);
    // Exact, case-sensitive; nothing for any other text.
    static std::optional<Options> optionsFromRawValue(const QString& rawValue);

    // From an interface name (the view is made from the interface registered under it) and a
    // bundle; a storyboard's builder makes it with neither.
    explicit StoriesBaseViewController(const std::optional<QString>& nibName = std::nullopt,
        const std::optional<Foundation::Bundle>& bundle = std::nullopt);
    ~StoriesBaseViewController() override;

    TodayDataSource dataSource;
    API::TickerlyAPIClient apiClient;
    // Kept for whoever wants it; the list itself never reads it.
    bool didLoad = false;

    // The controller's view, which is always a story list view.
    TodayView* contentView();
    int extraRows() const override { return 0; }

    // Without an interface of its own, the view is the story list built in code.
    void loadView() override;
    void viewDidLoad() override;

    void willReload(TodayDataSource* dataSource) override;
    void didReload(TodayDataSource* dataSource) override;
    void changeRefused(TodayDataSource* dataSource) override;
    void changeHeldInMemory(TodayDataSource* dataSource) override;
    void refreshRefused(TodayDataSource* dataSource) override;
    // Tells the person `text` where the list can; the base shows nothing.
    virtual void showError(const QString& text);
    QWidget* viewForTableColumn(AppKit::TableView* tableView, int column, int row) override;

    void rowViewPressed(ListCellView* rowView) override;
    // Removes the story at `index` (a story index, not a table row).
    virtual void deleteRow(int index);
    void rowViewDeleted(ListCellView* rowView) override;
    QList<RowOption> rowViewOptions(ListCellView* rowView) override;
    void rowViewOptionPressed(const QString& identifier, ListCellView* rowView) override;
    void rowViewShowShare(ListCellView* rowView, QMouseEvent* event) override;

    // The share menu's actions; `sender` is the chosen item.
    void copyStory(QAction* sender);
    void share(QAction* sender);

    // The story table: cells "cell", 75 points high, 2 apart, `owner` its delegate.
    static AppKit::TableView* makeStoryTable(StoriesBaseViewController* owner);

    // Where the progress wheel sits: at the top right, or at the right end of the button's strip.
    enum class SpinnerPlace { topRight, besideButton };
    // The story list built in code: the table (cells "cell", 75 points high, 2 apart), the
    // expand button under it and the progress wheel, `owner` the table's delegate.
    static TodayView* makeStoryListView(
        StoriesBaseViewController* owner, SpinnerPlace spinnerPlace = SpinnerPlace::topRight);

    // The items a story is shared as: its text, its image or image address, its link.
    static QVariantList shareItems(const Data::NewsStory& story);

private:
    // The story index of a row view and its story, when the row shows one.
    std::optional<std::pair<int, std::shared_ptr<Data::NewsStory>>> storyOfRowView(
        ListCellView* rowView);
};

} // namespace Tickerly::StoryList

// A story as a menu item's represented object.
Q_DECLARE_METATYPE(std::shared_ptr<Tickerly::Data::NewsStory>)

#pragma once

#include "app/Namespace.h"
#include "app/shell/ErrorBanner.h"
#include "app/shell/WidgetScrollView.h"
#include "storylist/StoriesBaseViewController.h"

#include <QPointer>

namespace Tickerly::App {

// The stories window's list: every current story below one empty row, refreshed every 300
// seconds while the controller lives, and at once with a click sound when the list is pulled
// down or the application asks; a change or refresh the store refused is said in a red banner.
// Main thread only; owned by the window's controller.
class StoriesViewController : public StoryList::StoriesBaseViewController,
                              public WidgetScrollViewDelegate {
    Q_OBJECT
public:
    explicit StoriesViewController(const std::optional<QString>& nibName = std::nullopt,
        const std::optional<Foundation::Bundle>& bundle = std::nullopt);

    // Row 0 shows no story; story i is in row i + 1.
    int extraRows() const override { return 1; }
    void viewDidLoad() override;

    // The scroll view around the story table, held weakly; set by the storyboard.
    WidgetScrollView* scrollView() const { return m_scrollView; }
    void setScrollView(WidgetScrollView* scrollView) { m_scrollView = scrollView; }

    // Refreshes 300 seconds from now, and again 300 seconds after that, for as long as this
    // controller lives.
    void scheduleRefresh();
    void wantsRefresh(WidgetScrollView* scrollView) override;
    // Refreshes now with a click, then closes the pull-to-refresh strip.
    Q_INVOKABLE void refresh();
    // In the red banner at the top of the list.
    void showError(const QString& text) override;
    const ErrorBanner* errorBanner() const { return m_banner.get(); }

    // Seconds between two timed refreshes.
    static constexpr double refreshInterval = 300;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Makes the cells of the rows a full list would add to those shown.
    void prepareRows();

    QPointer<WidgetScrollView> m_scrollView;
    std::unique_ptr<ErrorBanner> m_banner;
};

} // namespace Tickerly::App

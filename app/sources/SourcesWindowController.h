#pragma once

#include "app/Namespace.h"
#include "app/sources/SearchBar.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/ProgressIndicator.h"

#include <QPointer>
#include <QRect>
#include <QSize>

#include <memory>

class QWidget;

namespace Tickerly::App {

// Where the popular-feeds panel goes, in the sources window's coordinates (y down): 520 by 250,
// centred on the window, its top edge at the bottom edge of the search bar (`anchor`).
QRect popularWindowFrame(const QSize& windowSize, const QRect& anchor);

// The sources window's controller: the search field where a source is added by its address or
// by search words, the spinner that turns while one is being added, and the popular-feeds panel
// that hangs below the field while it has the focus. It registers itself with the application
// object when its window is first asked for. Main thread only; shared by its owners
// (makeController).
class SourcesWindowController : public AppKit::WindowController, public SearchBarDelegate {
    Q_OBJECT
public:
    explicit SourcesWindowController(
        AppKit::TopLevelWindow* window = nullptr, QObject* parent = nullptr);
    ~SourcesWindowController() override;

    AppKit::ProgressIndicator* spinner() const { return m_spinner; }
    void setSpinner(AppKit::ProgressIndicator* spinner) { m_spinner = spinner; }
    SearchBar* searchBar() const { return m_searchBar; }
    void setSearchBar(SearchBar* searchBar) { m_searchBar = searchBar; }

    // The content view controller; the storyboard always makes it a sources view controller
    // (null otherwise).
    class SourcesViewController* listViewController() const;

    const std::shared_ptr<AppKit::WindowController>& popularWindowController() const
    {
        return m_popularWindowController;
    }
    bool popularWindowVisible() const { return m_popularWindowVisible; }
    // Shows the panel when it is wanted and not shown, hides it when it is shown and not wanted.
    void setPopularWindowVisible(bool visible);

    void showPopularWindow();
    void hidePopularWindow();
    void updatePopularWindowFrame();

    // Shows `text` in the banner of the sources list.
    void showError(const QString& text) const;

    // Starts adding the typed text as a source; always lets editing end.
    bool controlTextShouldEndEditing(QObject* control) override;

public Q_SLOTS:
    void openStoriesWindow(QObject* sender = nullptr);
    void openPreferencesWindow(QObject* sender = nullptr);

protected:
    void windowDidLoad() override;

private:
    void setup();

    QPointer<AppKit::ProgressIndicator> m_spinner;
    QPointer<SearchBar> m_searchBar;
    std::shared_ptr<AppKit::WindowController> m_popularWindowController;
    bool m_popularWindowVisible = false;
};

} // namespace Tickerly::App

#pragma once

#include "app/Namespace.h"
#include "app/sources/IntroductionView.h"
#include "app/sources/NoFeedsView.h"
#include "app/sources/SourceRowView.h"
#include "app/sources/SourcesDataSource.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/LayoutConstraint.h"
#include "platform/appkit/TableView.h"

#include <QPointer>
#include <QString>

namespace Tickerly::App {

class SourcesView;

// The first-run flag of the installation help, in the shared suite.
inline constexpr char16_t installationShownKey[] = u"velmora.Tickerly.installationShownKey";

// The controller of the sources window's content: the table of the user's sources, the welcome
// screen over it while there are none, and the first-run installation help at the bottom edge.
// The scene connects its outlets before its view loads. Main thread only; owned by the sources
// window's controller.
class SourcesViewController : public AppKit::ViewController,
                              public AppKit::TableViewDelegate,
                              public SourcesDataSourceDelegate,
                              public SourceTableViewCellDelegate {
    Q_OBJECT
public:
    explicit SourcesViewController(QObject* parent = nullptr);
    ~SourcesViewController() override;

    AppKit::TableView* tableView() const { return m_tableView; }
    void setTableView(AppKit::TableView* tableView) { m_tableView = tableView; }
    IntroductionView* installationView() const { return m_installationView; }
    void setInstallationView(IntroductionView* view);
    const AppKit::LayoutConstraintRef& installationViewHeight() const
    {
        return m_installationViewHeight;
    }
    void setInstallationViewHeight(AppKit::LayoutConstraintRef c)
    {
        m_installationViewHeight = std::move(c);
    }
    const AppKit::LayoutConstraintRef& installationViewBottom() const
    {
        return m_installationViewBottom;
    }
    void setInstallationViewBottom(AppKit::LayoutConstraintRef c)
    {
        m_installationViewBottom = std::move(c);
    }
    NoFeedsParentView* welcomeView() const { return m_welcomeView; }
    void setWelcomeView(NoFeedsParentView* view) { m_welcomeView = view; }
    SourcesDataSource* dataSource() const { return m_dataSource; }

    // The view, which the scene always makes a SourcesView.
    SourcesView* contentView();

    void viewWillAppear() override;

    bool installationViewHidden() const;
    void setInstallationViewHidden(bool hidden);
    // Slides the installation help in when it is hidden and out when it is shown.
    void toggleInstallationView(QObject* sender = nullptr);

    void updateWelcomeScreenVisibility();
    void showOrHideWelcomeScreen();

    // TableViewDelegate
    QWidget* viewForTableColumn(AppKit::TableView* tableView, int column, int row) override;
    // SourcesDataSourceDelegate
    void sourcesUpdated(SourcesDataSource* dataSource) override;
    // SourceTableViewCellDelegate
    void deletePressed(SourceTableViewCell* cell) override;

protected:
    void viewDidLoad() override;

private:
    QPointer<AppKit::TableView> m_tableView;
    QPointer<IntroductionView> m_installationView;
    AppKit::LayoutConstraintRef m_installationViewHeight;
    AppKit::LayoutConstraintRef m_installationViewBottom;
    QPointer<NoFeedsParentView> m_welcomeView;
    QPointer<SourcesDataSource> m_dataSource;
};

} // namespace Tickerly::App

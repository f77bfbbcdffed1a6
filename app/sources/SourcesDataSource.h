#pragma once

#include "app/Namespace.h"
#include "data/model/Source.h"
#include "data/model/SourcesData.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/WeakDelegate.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::Foundation {
struct Notification;
} // namespace Tickerly::Foundation

namespace Tickerly::App {

class SourcesDataSource;

// One row of the sources table as the row view shows it. Made anew for every row question.
class SourceData {
public:
    SourceData(QString aName, QString aUrl, std::optional<QImage> anIcon, bool isLoadingIcon)
        : name(std::move(aName))
        , url(std::move(aUrl))
        , icon(std::move(anIcon))
        , loadingIcon(isLoadingIcon)
    {
    }

    const QString name;
    const QString url;
    const std::optional<QImage> icon;
    // No icon is stored yet and the icon search has not given up.
    const bool loadingIcon;
};

class SourcesDataSourceDelegate {
public:
    virtual ~SourcesDataSourceDelegate();
    // After every handled change of the source list.
    virtual void sourcesUpdated(SourcesDataSource* dataSource) = 0;
};

// The sources table's data source: a cached copy of the stored sources that follows the store's
// change and icon notifications with animated row changes, and reads the list again when either
// program writes what a run that ended left. Main thread only; owned by the sources view
// controller.
class SourcesDataSource : public QObject, public AppKit::TableViewDataSource {
    Q_OBJECT
public:
    explicit SourcesDataSource(QObject* parent = nullptr);
    ~SourcesDataSource() override;

    AppKit::TableView* tableView() const { return m_tableView; }
    void setTableView(AppKit::TableView* tableView) { m_tableView = tableView; }

    const QList<std::shared_ptr<Data::Source>>& sources() const { return m_sources; }
    void setSources(const QList<std::shared_ptr<Data::Source>>& sources) { m_sources = sources; }

    const Data::SourcesData& sourcesData() const { return m_sourcesData; }

    SourcesDataSourceDelegate* delegate() const { return m_delegate.get(); }
    // Held weakly when the delegate is a QObject.
    void setDelegate(SourcesDataSourceDelegate* delegate) { m_delegate.set(delegate); }

    void sourcesChanged(const Foundation::Notification& notification);
    void sourceIconChanged(const Foundation::Notification& notification);
    // Reloads the table when the stored list is not the one shown.
    void sourcesReplayed();

    void attachToTableView(AppKit::TableView* tableView);
    int numberOfItems() const { return int(m_sources.size()); }

    static std::shared_ptr<const SourceData> sourceDataFromSource(const Data::Source& source);

    // TableViewDataSource
    int numberOfRowsInTableView(AppKit::TableView* tableView) override;
    QVariant objectValueForTableColumn(AppKit::TableView* tableView, int column, int row) override;

private:
    // When the notified change, applied to the rows shown, gives the stored list: the updated
    // rows that now show something else. Nothing when the change is out of step.
    std::optional<QList<int>> rowsToRebind(const QList<std::shared_ptr<Data::Source>>& shown,
        std::optional<int> added, std::optional<int> removed,
        const std::optional<QList<int>>& updated) const;
    void animateDifference(AppKit::TableView* table,
        const QList<std::shared_ptr<Data::Source>>& shown, const QList<int>& updated);

    QPointer<AppKit::TableView> m_tableView;
    QList<std::shared_ptr<Data::Source>> m_sources;
    const Data::SourcesData m_sourcesData;
    AppKit::WeakDelegate<SourcesDataSourceDelegate> m_delegate;
};

} // namespace Tickerly::App

Q_DECLARE_METATYPE(std::shared_ptr<const Tickerly::App::SourceData>)

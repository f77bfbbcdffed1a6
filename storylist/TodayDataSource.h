#pragma once

#include "storylist/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/SourcesData.h"
#include "data/model/StoryStateData.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/WeakDelegate.h"
#include "platform/notificationcenter/NCUpdateResult.h"
#include "storylist/ListRowViewData.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
struct Notification;
} // namespace Tickerly::Foundation

namespace Tickerly::StoryList {

class TodayDataSource;

// What the owner of a story list learns from its data source, and what it adds to the table.
// Held weakly: a delegate that is a QObject is forgotten when it dies.
class TodayDataSourceDelegate {
public:
    virtual ~TodayDataSourceDelegate() = default;
    // A refresh starts.
    virtual void willReload(TodayDataSource* dataSource) = 0;
    // The held list has been read again and the table reloaded.
    virtual void didReload(TodayDataSource* dataSource) = 0;
    // Rows the owner shows above the first story.
    virtual int extraRows() const = 0;
    // A change the person made (a story removed or read) was refused by the store, at once or
    // after it was kept for later; the list shows it undone.
    virtual void changeRefused(TodayDataSource*) { }
    // A change the person made shows, but is held in memory only: lost should the program end
    // before the store frees.
    virtual void changeHeldInMemory(TodayDataSource*) { }
    // The store refused the stories of a refresh; the list shows the ones it held.
    virtual void refreshRefused(TodayDataSource*) { }
};

// The stories a story list shows: refreshes them through a feed synchronisation, holds the
// newest (at most `limit`, deleted ones left out), serves them to the table as rows, loads
// their images, and refreshes by itself when the sources change in this process or a setting
// changes in any process. A story state kept for later shows at once; the list is read again
// when it is written or refused, and when changes a run that ended left are written by either
// program. A setting kept for later shows at once.
//
// Main thread only; owned by its story list controller. Image loads complete on the image
// session's queue and only hop back to the main thread from there.
class TodayDataSource : public QObject, public AppKit::TableViewDataSource {
    Q_OBJECT
public:
    using CompletionHandler = std::function<void(WidgetInterface::NCUpdateResult)>;

    TodayDataSource();
    ~TodayDataSource() override;

    std::shared_ptr<Foundation::UrlSession> imageSession;
    QPointer<AppKit::TableView> tableView;
    Data::SourcesData sourcesData;
    QList<std::shared_ptr<Data::NewsStory>> stories;
    // When the held stories were stored; a story dated later shows this time instead.
    std::optional<QDateTime> loadedAt;
    // By story link, which is what makes two stories equal; stories without one are never cached.
    QHash<QString, QImage> imageCache;
    std::optional<Data::StoryStateData> stateData;
    bool didLoad = false;
    const int limit = 20;

    bool expanded() const { return m_expanded; }
    // Reloads the attached table at once.
    void setExpanded(bool expanded);

    TodayDataSourceDelegate* delegate() const;
    void setDelegate(TodayDataSourceDelegate* delegate);

    // The number of story rows the table shows, never negative.
    int numberOfItems() const;
    void attachToTableView(AppKit::TableView* table);
    std::shared_ptr<const ListRowViewData> listRowViewDataFromStory(const Data::NewsStory& story);

    int numberOfRowsInTableView(AppKit::TableView* table) override;
    // The number 0 for the owner's extra rows, the story's row data below them, nothing past
    // the held list.
    QVariant objectValueForTableColumn(AppKit::TableView* table, int column, int row) override;

    // A refresh without handler, whatever the notification.
    void dataUpdated();
    // Starts a refresh; the handler gets NewData, also when this object is gone by then, or
    // Failed when the store refused the refresh's stories.
    void updateContents(CompletionHandler completionHandler = {});
    void updateCurrentStories();
    // Marks the held story at `index` deleted and takes its row out of the table; when the store
    // refuses, the row stays and the delegate hears of it.
    void removeStory(int index);
    // Loads the image of every held story and reloads its row when it arrives.
    void updateImages();

private:
    int extraRows() const;
    // Also reads when they were stored (loadedAt).
    QList<std::shared_ptr<Data::NewsStory>> readCurrentStories();
    void pruneImageCache();
    void keptStateEnded(const Foundation::Notification& notification);

    bool m_expanded = false;
    AppKit::WeakDelegate<TodayDataSourceDelegate> m_delegate;
};

} // namespace Tickerly::StoryList

#include "storylist/TodayDataSource.h"

#include "data/model/SourceIconData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/network/UrlSession.h"
#include "storylist/Preferences.h"

#include <QSet>

#include <algorithm>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

QString linkText(const NewsStory& story)
{
    return story.link() ? story.link()->absoluteString() : QString();
}

} // namespace

TodayDataSource::TodayDataSource()
{
    NotificationCenter::defaultCenter().addObserver(this, SourcesData::changeNotification(),
        nullptr, [this](const Notification&) { dataUpdated(); });
    DistributedNotificationCenter::defaultCenter().addObserver(this,
        QString::fromUtf16(dataUpdatedNotification),
        QString::fromUtf16(dataUpdatedNotificationObject),
        [this](const QString&, const QString&) { dataUpdated(); });
    NotificationCenter::defaultCenter().addObserver(this, StoryStateData::keptChangeNotification(),
        nullptr, [this](const Notification& n) { keptStateEnded(n); });
    // The rows read the settings as they are bound.
    NotificationCenter::defaultCenter().addObserver(
        this, QString::fromUtf16(keptSettingNotification), nullptr, [this](const Notification&) {
            if (tableView)
                tableView->reloadData();
        });
    // What a run that ended left, written by either program: no feed has changed.
    sourcesData.localStore()->observeReplays(this, [this] {
        if (stateData)
            stateData->flushCache();
        updateCurrentStories();
    });
    sourcesData.updateLocalStore();
    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 10;
    imageSession = UrlSession::create(configuration);
    updateCurrentStories();
}

TodayDataSource::~TodayDataSource() = default;

void TodayDataSource::setExpanded(bool expanded)
{
    m_expanded = expanded;
    if (tableView)
        tableView->reloadData();
}

TodayDataSourceDelegate* TodayDataSource::delegate() const { return m_delegate.get(); }

void TodayDataSource::setDelegate(TodayDataSourceDelegate* delegate) { m_delegate.set(delegate); }

int TodayDataSource::extraRows() const
{
    TodayDataSourceDelegate* d = delegate();
    return d ? d->extraRows() : 0;
}

int TodayDataSource::numberOfItems() const
{
    const int held = int(stories.size());
    if (m_expanded)
        return held;
    // The setting may hold a negative number (the other process, a hand edit): no rows then.
    return int(std::clamp<qint64>(Preferences().numberOfStories(), 0, held));
}

void TodayDataSource::attachToTableView(TableView* table)
{
    tableView = table;
    if (table)
        table->setDataSource(this);
}

std::shared_ptr<const ListRowViewData> TodayDataSource::listRowViewDataFromStory(
    const NewsStory& story)
{
    if (!stateData)
        stateData.emplace();
    const QString link = linkText(story);

    std::optional<QImage> image;
    if (QImage own = story.image(); !own.isNull())
        image = std::move(own);
    else if (auto cached = imageCache.constFind(link);
             !link.isEmpty() && cached != imageCache.cend())
        image = cached.value();
    else if (QImage fallback = imageNamed(u"tickerly_default"_s); !fallback.isNull())
        image = std::move(fallback);

    QImage icon;
    if (story.source())
        icon = SourceIconData::iconForSource(*story.source());
    if (icon.isNull())
        icon = imageNamed(u"default icon"_s); // an empty image if even that is missing

    return std::make_shared<const ListRowViewData>(story.headline().value_or(QString()),
        story.dateAsLoadedAt(loadedAt.value_or(QDateTime::currentDateTimeUtc())),
        story.body().value_or(QString()), std::move(image), std::move(icon),
        stateData->stateForLink(link) == StoryState::Read);
}

int TodayDataSource::numberOfRowsInTableView(TableView*) { return numberOfItems() + extraRows(); }

QVariant TodayDataSource::objectValueForTableColumn(TableView*, int, int row)
{
    const int i = row - extraRows();
    if (i < 0)
        return QVariant::fromValue(0);
    if (i >= stories.size())
        return {};
    return QVariant::fromValue(listRowViewDataFromStory(*stories.at(i)));
}

void TodayDataSource::dataUpdated() { updateContents(); }

void TodayDataSource::updateContents(CompletionHandler completionHandler)
{
    if (TodayDataSourceDelegate* d = delegate())
        d->willReload(this);
    if (stateData)
        stateData->flushCache();
    // The run lives until its completion has run; the completion then lets go of it. With no
    // sources that happens inside updateStories, which `run` outlives.
    const std::shared_ptr<Sync> run = Sync::create();
    auto sync = std::make_shared<std::shared_ptr<Sync>>(run);
    QPointer<TodayDataSource> self(this);
    run->updateStories(UrlSessionConfiguration(), [self, completionHandler, sync](bool) {
        // A refresh that read nothing keeps the last stories without a word; one whose stories
        // the store refused has lost them, and says so.
        const bool refused = *sync && (*sync)->storeRefused();
        if (self) {
            self->didLoad = true;
            self->updateCurrentStories();
            self->updateImages();
            if (TodayDataSourceDelegate* d = refused ? self->delegate() : nullptr)
                d->refreshRefused(self);
        }
        if (completionHandler)
            completionHandler(refused ? NCUpdateResult::Failed : NCUpdateResult::NewData);
        sync->reset();
    });
}

QList<std::shared_ptr<NewsStory>> TodayDataSource::readCurrentStories()
{
    const StoredStoriesData stored;
    loadedAt = stored.lastLoaded();
    return stored.currentStories(limit);
}

void TodayDataSource::pruneImageCache()
{
    // Only held stories are shown; pictures of the others would pile up for as long as the
    // list runs.
    QSet<QString> held;
    for (const std::shared_ptr<NewsStory>& story : std::as_const(stories))
        held.insert(linkText(*story));
    imageCache.removeIf([&held](const auto& entry) { return !held.contains(entry.key()); });
}

void TodayDataSource::updateCurrentStories()
{
    stories = readCurrentStories();
    pruneImageCache();
    if (tableView)
        tableView->reloadData();
    if (TodayDataSourceDelegate* d = delegate())
        d->didReload(this);
}

void TodayDataSource::updateImages()
{
    for (int i = 0; i < stories.size(); ++i) {
        std::shared_ptr<NewsStory> story = stories.at(i);
        QPointer<TodayDataSource> self(this);
        story->loadImage(imageSession, {}, [self, story, i] {
            MainQueue::dispatchAsync([self, story, i] {
                if (!self)
                    return;
                // Every story without a link would be the same key.
                if (const QString link = linkText(*story); !link.isEmpty()) {
                    if (QImage image = story->image(); !image.isNull())
                        self->imageCache.insert(link, image);
                    else
                        self->imageCache.remove(link);
                }
                const int row = i + self->extraRows();
                if (self->tableView && row < self->tableView->numberOfRows())
                    self->tableView->reloadDataForRowIndexes({ row }, { 0 });
            });
        });
    }
}

void TodayDataSource::keptStateEnded(const Notification& notification)
{
    // Written: the rows show it already, read again in case the store moved on meanwhile.
    // Refused: the story is back as it was.
    if (stateData)
        stateData->flushCache();
    updateCurrentStories();
    if (notification.userInfo.value(StoryStateData::refusedChangeKey()).toBool()) {
        if (TodayDataSourceDelegate* d = delegate())
            d->changeRefused(this);
    }
}

void TodayDataSource::removeStory(int index)
{
    if (index < 0 || index >= stories.size())
        return;
    const std::shared_ptr<NewsStory> story = stories.at(index);
    const int visibleBefore = numberOfItems();
    // A state kept for later is read back as set; one refused leaves the list as it was.
    const auto outcome = StoryStateData().setState(*story, StoryState::Deleted);
    if (outcome == UserDefaults::Outcome::Failed) {
        if (TodayDataSourceDelegate* d = delegate())
            d->changeRefused(this);
        return;
    }
    if (TodayDataSourceDelegate* d
        = outcome == UserDefaults::Outcome::HeldInMemory ? delegate() : nullptr)
        d->changeHeldInMemory(this);
    QList<std::shared_ptr<NewsStory>> expected = stories;
    expected.removeAt(index);
    stories = readCurrentStories();
    pruneImageCache();
    const int n = int(stories.size());

    if (!tableView)
        return;
    // The other process may have stored its own refresh since the last reload: then the rows
    // would show stories other than the ones a click on them opens.
    const bool onlyThatOneLeft = (n == expected.size() || n == expected.size() + 1)
        && std::equal(expected.cbegin(), expected.cend(), stories.cbegin(),
            [](const auto& a, const auto& b) { return *a == *b; });
    if (!onlyThatOneLeft) {
        tableView->reloadData();
        return;
    }
    tableView->beginUpdates();
    const int extra = extraRows();
    const int row = index + extra;
    if (m_expanded) {
        if (row == limit && n == limit) {
            tableView->reloadDataForRowIndexes({ row }, { 0 });
        } else {
            tableView->removeRowsAtIndexes({ row }, TableViewAnimation::SlideUp);
            if (n == limit)
                tableView->insertRowsAtIndexes({ limit - 1 + extra }, TableViewAnimation::SlideUp);
        }
    } else if (index < visibleBefore) {
        // Only the first rows are shown: the story below them moves up into the last row,
        // unless there is none and the list gets shorter.
        const int visibleAfter = numberOfItems();
        tableView->removeRowsAtIndexes({ row }, TableViewAnimation::SlideUp);
        if (visibleAfter == visibleBefore)
            tableView->insertRowsAtIndexes(
                { visibleAfter - 1 + extra }, TableViewAnimation::SlideUp);
    }
    tableView->endUpdates();
}

} // namespace Tickerly::StoryList

#include "storylist/StoriesBaseViewController.h"

#include "data/discovery/ShareLinks.h"
#include "data/model/NewsStory.h"
#include "data/model/StoryStateData.h"
#include "data/model/UserInfo.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ContextMenu.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/SharingService.h"
#include "platform/appkit/Workspace.h"
#include "storylist/ListCellView.h"
#include "storylist/Preferences.h"
#include "storylist/RowStyle.h"
#include "storylist/StoryShareServices.h"
#include "storylist/TodayView.h"
#include "storylist/ViewKit.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kRowHeight = 75;
constexpr int kRowSpacing = 2;

// Links come from feeds: only web pages go to the browser, never files or other programs'
// addresses.
bool isWebLink(const Url& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http"_s || scheme == u"https"_s;
}

void openWebLink(const std::optional<Url>& url)
{
    if (url && isWebLink(*url))
        Workspace::sharedWorkspace().openURL(*url);
}

QUrl qurlOf(const Url& url) { return QUrl(url.absoluteString(), QUrl::StrictMode); }

} // namespace

QString StoriesBaseViewController::rawValue(Options option)
{
    switch (option) {
    case Options::facebook:
        return u"facebook"_s;
    case Options::twitter:
        return u"twitter"_s;
    case Options::instapaper:
        return u"instapaper"_s;
    case Options::readability:
        return u"readability"_s;
    }
    return QString();
}

std::optional<StoriesBaseViewController::Options> StoriesBaseViewController::optionsFromRawValue(
    const QString& raw)
{
    for (Options option :
        { Options::facebook, Options::twitter, Options::instapaper, Options::readability }) {
        if (rawValue(option) == raw)
            return option;
    }
    return std::nullopt;
}

StoriesBaseViewController::StoriesBaseViewController(
    const std::optional<QString>& nibName, const std::optional<Bundle>&)
    : ViewController(nibName)
{
    registerStoryShareServices();
}

StoriesBaseViewController::~StoriesBaseViewController()
{
    // The rows go before the data source and client they would call.
    if (isViewLoaded() && !view()->parent())
        delete view();
}

TodayView* StoriesBaseViewController::contentView() { return static_cast<TodayView*>(view()); }

void StoriesBaseViewController::loadView()
{
    if (nibName() && ViewController::hasInterface(*nibName()))
        ViewController::loadView();
    else
        setView(makeStoryListView(this));
}

TableView* StoriesBaseViewController::makeStoryTable(StoriesBaseViewController* owner)
{
    auto* table = new TableView;
    table->registerCellPrototype(u"cell"_s, [](QObject*) { return new ListCellView; });
    table->setRowHeight(kRowHeight);
    table->setIntercellSpacing(kRowSpacing);
    table->setDelegate(owner);
    return table;
}

TodayView* StoriesBaseViewController::makeStoryListView(
    StoriesBaseViewController* owner, SpinnerPlace spinnerPlace)
{
    auto* view = new TodayView;
    TableView* table = makeStoryTable(owner);
    QPushButton* button = initButton(~u"Show more"_s);
    button->setFlat(true);
    button->setFont(RowStyle::systemFont(12, QFont::Bold));
    auto* spinner = new ProgressIndicator;

    addSubviews(view, table, button, spinner);
    const LayoutViews views { { u"table"_s, table }, { u"button"_s, button },
        { u"spinner"_s, spinner } };
    constraints(view, u"|[table][button(30)]|"_s, u"|[table]|"_s, views);
    constraints(view, std::nullopt, u"|[button]|"_s, views);
    const QString spinnerVertical
        = spinnerPlace == SpinnerPlace::topRight ? u"|-8-[spinner(16)]"_s : u"[spinner(16)]-7-|"_s;
    constraints(view, spinnerVertical, u"[spinner(16)]-8-|"_s, views);
    view->setTableView(table);
    view->setExpandButton(button);
    view->setSpinner(spinner);
    return view;
}

void StoriesBaseViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    if (TableView* table = contentView()->tableView())
        dataSource.attachToTableView(table);
    dataSource.setDelegate(this);
}

void StoriesBaseViewController::willReload(TodayDataSource*)
{
    if (ProgressIndicator* spinner = contentView()->spinner())
        spinner->startAnimation(this);
}

void StoriesBaseViewController::didReload(TodayDataSource* source)
{
    if (ProgressIndicator* spinner = contentView()->spinner())
        spinner->stopAnimation(this);
    if (source->didLoad)
        contentView()->setIsEmpty(source->numberOfItems() == 0);
}

void StoriesBaseViewController::changeRefused(TodayDataSource*)
{
    showError(~u"Save change error"_s);
}

void StoriesBaseViewController::changeHeldInMemory(TodayDataSource*)
{
    showError(~u"Save change error"_s);
}

void StoriesBaseViewController::refreshRefused(TodayDataSource*)
{
    showError(~u"Save stories error"_s);
}

void StoriesBaseViewController::showError(const QString&) { }

QWidget* StoriesBaseViewController::viewForTableColumn(TableView* tableView, int, int)
{
    auto* cell = dynamic_cast<ListCellView*>(tableView->makeViewWithIdentifier(u"cell"_s, this));
    if (cell)
        cell->setDelegate(this);
    return cell;
}

std::optional<std::pair<int, std::shared_ptr<NewsStory>>> StoriesBaseViewController::storyOfRowView(
    ListCellView* rowView)
{
    TableView* table = contentView()->tableView();
    if (!table)
        return std::nullopt;
    const int index = table->rowForView(rowView) - extraRows();
    if (index < 0 || index >= dataSource.stories.size())
        return std::nullopt;
    return std::pair { index, dataSource.stories.at(index) };
}

void StoriesBaseViewController::rowViewPressed(ListCellView* rowView)
{
    const auto found = storyOfRowView(rowView);
    if (!found)
        return;
    const auto& [index, story] = *found;
    const auto outcome = StoryStateData().setState(*story, StoryState::Read);
    const bool refused = outcome == UserDefaults::Outcome::Failed;
    // The list's own copy of the states would show the row unread again when it is next bound
    // (its picture arriving).
    if (dataSource.stateData)
        dataSource.stateData->flushCache();
    rowView->deselect();
    if (refused)
        changeRefused(&dataSource);
    else
        rowView->setRead();
    if (outcome == UserDefaults::Outcome::HeldInMemory)
        changeHeldInMemory(&dataSource);

    // A story whose link is no web page has nothing to open, not even through the reader.
    std::optional<Url> link;
    if (story->link() && isWebLink(*story->link())) {
        link = story->link();
        if (Preferences().readabilityOnOpen()) {
            if (const auto reader = readabilityURL(*story))
                link = reader;
        }
    }
    // Reported before the browser opens, and always with the plain link; nobody waits. A link
    // that is no web page goes nowhere, the report included.
    if (const auto& plain = story->link(); plain && isWebLink(*plain))
        apiClient.storyClicked(
            UserInfo::language(), index, plain->absoluteString(), std::nullopt, UserInfo::userId());
    openWebLink(link);

    if (Preferences().hideOnOpen())
        deleteRow(index);
}

void StoriesBaseViewController::deleteRow(int index)
{
    if (index >= 0)
        dataSource.removeStory(index);
}

void StoriesBaseViewController::rowViewDeleted(ListCellView* rowView)
{
    if (const auto found = storyOfRowView(rowView))
        dataSource.removeStory(found->first);
}

QList<RowOption> StoriesBaseViewController::rowViewOptions(ListCellView*)
{
    QList<RowOption> options;
    for (Options option :
        { Options::twitter, Options::facebook, Options::instapaper, Options::readability }) {
        if (option == Options::facebook && !canShareOnFacebook())
            continue;
        const QString identifier = rawValue(option);
        options.append({ identifier, RowStyle::drawnGlyph(identifier + u" icon"_s) });
    }
    return options;
}

void StoriesBaseViewController::rowViewOptionPressed(
    const QString& identifier, ListCellView* rowView)
{
    const auto found = storyOfRowView(rowView);
    if (!found)
        return;
    const NewsStory& story = *found->second;
    if (const auto option = optionsFromRawValue(identifier)) {
        switch (*option) {
        case Options::facebook:
            openWebLink(facebookShareURL(story));
            break;
        case Options::twitter:
            openWebLink(twitterShareURL(story));
            break;
        case Options::instapaper:
            openWebLink(instapaperSaveURL(story));
            break;
        case Options::readability:
            // The other of the two links a press opens.
            openWebLink(Preferences().readabilityOnOpen() ? story.link() : readabilityURL(story));
            break;
        }
    }
    rowView->setOptionsOpen(false);
    rowView->deselect();
}

QVariantList StoriesBaseViewController::shareItems(const NewsStory& story)
{
    QVariantList items;
    // A story always has a headline and a body, possibly empty; empty text is nothing to share.
    const QString headline = story.headline().value_or(QString());
    const QString text = headline.isEmpty() ? story.body().value_or(QString()) : headline;
    if (!text.isEmpty())
        items.append(text);
    if (const QImage image = story.image(); !image.isNull())
        items.append(image);
    else if (const auto imageLink = story.imageLink())
        items.append(qurlOf(*imageLink));
    if (const auto& link = story.link())
        items.append(qurlOf(*link));
    return items;
}

void StoriesBaseViewController::rowViewShowShare(ListCellView* rowView, QMouseEvent* event)
{
    const auto found = storyOfRowView(rowView);
    if (!found)
        return;
    const std::shared_ptr<NewsStory> story = found->second;
    const QVariantList items = shareItems(*story);

    auto* menu = new QMenu(rowView);
    menu->setTitle(u"Share menu"_s);
    auto* copy = new QAction(menuItemText(~u"Copy link"_s), menu);
    copy->setData(QVariant::fromValue(story));
    connect(copy, &QAction::triggered, this, [this, copy] { copyStory(copy); });
    menu->addAction(copy);

    if (const auto services = SharingService::sharingServicesForItems(items)) {
        menu->addSeparator();
        for (const auto& service : *services) {
            auto* item = new QAction(menuItemText(service->title()), menu);
            item->setData(QVariantMap {
                { u"service"_s, QVariant::fromValue(service) }, { u"items"_s, items } });
            if (!service->image().isNull())
                item->setIcon(QIcon(QPixmap::fromImage(service->image())));
            connect(item, &QAction::triggered, this, [this, item] { share(item); });
            menu->addAction(item);
        }
    }
    popUpContextMenu(menu, event, rowView);
}

void StoriesBaseViewController::copyStory(QAction* sender)
{
    if (!sender || sender->data().metaType() != QMetaType::fromType<std::shared_ptr<NewsStory>>())
        return;
    const auto story = sender->data().value<std::shared_ptr<NewsStory>>();
    if (!story || !story->link())
        return;
    Pasteboard& pasteboard = Pasteboard::generalPasteboard();
    pasteboard.clearContents();
    pasteboard.setString(story->link()->absoluteString(), Pasteboard::typeString);
}

void StoriesBaseViewController::share(QAction* sender)
{
    if (!sender || sender->data().metaType() != QMetaType::fromType<QVariantMap>())
        return;
    const QVariantMap represented = sender->data().toMap();
    const QVariant service = represented.value(u"service"_s);
    const QVariant items = represented.value(u"items"_s);
    if (service.metaType() != QMetaType::fromType<std::shared_ptr<const SharingService>>()
        || items.metaType() != QMetaType::fromType<QVariantList>())
        return;
    if (const auto s = service.value<std::shared_ptr<const SharingService>>())
        s->performWithItems(items.toList());
}

} // namespace Tickerly::StoryList

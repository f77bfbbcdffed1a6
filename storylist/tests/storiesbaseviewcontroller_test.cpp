#include "storylist/StoriesBaseViewController.h"

#include "data/discovery/ShareLinks.h"
#include "data/model/Shared.h"
#include "data/model/StoryStateData.h"
#include "data/model/UserInfo.h"
#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/ContextMenu.h"
#include "platform/appkit/SharingService.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "storylist/ImageButton.h"
#include "storylist/ListRowContentView.h"
#include "storylist/Label.h"
#include "storylist/Preferences.h"
#include "storylist/RowOptionsView.h"
#include "storylist/TodayView.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/RecordingWorkspace.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/Pointer.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QUrl>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::API;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using StoryListTest::storeStories;

namespace {

// Opens nothing; writes down each address and whether the click report had reached the
// server by then.
// Records what would have been opened and, with a server, whether the click report had reached
// it by then.
class ReportingWorkspace : public TestSupport::RecordingWorkspace {
public:
    ReportingWorkspace()
    {
        onOpen = [this](const Url&) {
            if (server)
                reportedFirst.append(TestSupport::waitFor(
                    [&] { return server->requestCount(u"/api/v1/stories/clicked"_s) > 0; }));
        };
    }
    QList<bool> reportedFirst;
    TestSupport::LoopbackServer* server = nullptr;
};

class RecordingPasteboard : public Pasteboard {
public:
    void clearContents() override { calls.append(u"clear"_s); }
    bool setString(const QString& text, const QString& type) override
    {
        calls.append(type + u": "_s + text);
        return true;
    }
    QStringList calls;
};

// The stories window's kind of list: one empty row above the stories.
class ListWithHeader : public StoriesBaseViewController {
public:
    int extraRows() const override { return 1; }
};

void setSetting(const char16_t* key, bool on)
{
    // Straight into the suite: an announced write would refresh the list under the test.
    (void)sharedDefaults()->set(QString::fromUtf16(key), on);
}

class StoryListController : public ::testing::Test {
protected:
    void SetUp() override
    {
        TableView::setDefaultAnimationDuration(0);
        TestSupport::ScriptedReply ok;
        ok.headers = { { "Content-Type", "application/json" } };
        ok.body = "{}";
        server.reply(u"/api/v1/stories/clicked"_s, ok);
        const Url api = TickerlyAPIClient::defaultBaseURL();
        UrlSessionTesting::mapToLoopback(u"http"_s, api.host(), 4000, server.port());
        Workspace::setSharedWorkspace(&workspace);
        Pasteboard::setGeneralPasteboard(&pasteboard);
        setContextMenuPresenter([this](QMenu* shown, const QMouseEvent* event, QWidget* view) {
            menu.reset(shown);
            menuEvent = event;
            menuView = view;
        });
        setSetting(readabilityOnOpenKey, false);
        setSetting(hideOnOpenKey, false);
        storeStories(5);
    }
    void TearDown() override
    {
        menu.reset();
        setContextMenuPresenter({});
        SharingService::setProvider({});
        Workspace::setSharedWorkspace(nullptr);
        Pasteboard::setGeneralPasteboard(nullptr);
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    }

    // Shows the controller's list in a 320-point window, with the rows laid out.
    void show(StoriesBaseViewController& controller)
    {
        window.resize(320, 5 * 77 + 30 + 77);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c));
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        controller.view()->setParent(&window);
        controller.view()->setGeometry(window.rect());
        window.show();
        controller.contentView()->tableView()->reloadData();
        AppKit::layoutSubtreeIfNeeded(&window);
        TestSupport::processEvents();
    }
    ListCellView* cellAt(StoriesBaseViewController& controller, int row)
    {
        return dynamic_cast<ListCellView*>(controller.contentView()->tableView()->viewAtRow(row));
    }
    QPointF pointIn(StoriesBaseViewController& controller, int row, QPointF offset = { 150, 50 })
    {
        TableView* table = controller.contentView()->tableView();
        return QPointF(table->mapTo(&window, table->rectOfRow(row).topLeft())) + offset;
    }
    QJsonObject reportedStory(int i)
    {
        // The report travels on its own; wait for it.
        EXPECT_TRUE(TestSupport::waitFor([&] { return server.requests().size() > i; }));
        const auto requests = server.requests();
        if (requests.size() <= i)
            return {};
        return QJsonDocument::fromJson(requests.at(i).body).object().value(u"story"_s).toObject();
    }
    StoryState stateOf(StoriesBaseViewController& controller, int index)
    {
        return StoryStateData().stateForStory(*controller.dataSource.stories.at(index));
    }

    TestSupport::LoopbackServer server;
    ReportingWorkspace workspace;
    RecordingPasteboard pasteboard;
    std::unique_ptr<QMenu> menu;
    const QMouseEvent* menuEvent = nullptr;
    QWidget* menuView = nullptr;
    QWidget window;
    TestSupport::Pointer pointer { &window };
};

} // namespace

TEST_F(StoryListController, APressMarksReadReportsTheStoryIndexThenOpens)
{
    ListWithHeader controller;
    show(controller);
    workspace.server = &server;
    ASSERT_EQ(controller.contentView()->tableView()->numberOfRows(), 6);
    // The header row shows nothing.
    EXPECT_TRUE(cellAt(controller, 0)->isHidden());

    const QString link = controller.dataSource.stories.at(2)->link()->absoluteString();
    pointer.click(pointIn(controller, 3));

    EXPECT_EQ(workspace.opened, QStringList { link });
    EXPECT_EQ(workspace.reportedFirst, QList<bool> { true });
    ASSERT_EQ(server.requests().size(), 1);
    const QJsonObject story = reportedStory(0);
    EXPECT_EQ(story.value(u"index"_s).toInt(), 2);
    EXPECT_EQ(story.value(u"url"_s).toString(), link);
    EXPECT_EQ(story.value(u"user_id"_s).toString(), UserInfo::userId());
    EXPECT_EQ(story.value(u"language"_s).toString(), UserInfo::language());
    EXPECT_FALSE(story.contains(u"canonical_url"_s));
    EXPECT_EQ(stateOf(controller, 2), StoryState::Read);
    // The row stays, dimmed.
    EXPECT_EQ(controller.contentView()->tableView()->numberOfRows(), 6);
    EXPECT_EQ(AppKit::opacity(cellAt(controller, 3)->contentView), 0.5);

    // A press on the header row is no story's.
    pointer.click(pointIn(controller, 0));
    EXPECT_EQ(workspace.opened.size(), 1);
}

TEST_F(StoryListController, TheReaderSettingOpensTheReaderPageAndStillReportsThePlainLink)
{
    setSetting(readabilityOnOpenKey, true);
    StoriesBaseViewController controller;
    show(controller);
    const NewsStory& story = *controller.dataSource.stories.at(1);
    pointer.click(pointIn(controller, 1));
    EXPECT_EQ(workspace.opened, QStringList { readabilityURL(story)->absoluteString() });
    EXPECT_EQ(reportedStory(0).value(u"url"_s).toString(), story.link()->absoluteString());
    EXPECT_EQ(reportedStory(0).value(u"index"_s).toInt(), 1);
}

TEST_F(StoryListController, OpensAndReportsOnlyWebLinks)
{
    const QStringList elsewhere { u"file:///home/user/.ssh/id_rsa"_s, u"javascript:alert(1)"_s,
        u"data:text/html;base64,PGI+eDwvYj4="_s, QString() };
    QList<std::shared_ptr<NewsStory>> stories;
    for (int i = 0; i < elsewhere.size(); ++i)
        stories.append(StoryTest::story(elsewhere.at(i), 400 - i, u"Elsewhere"_s));
    stories.append(StoryTest::story(u"https://news.example.test/a"_s, 100, u"Web"_s));
    (void)StoredStoriesData().storeStories(stories);
    StoriesBaseViewController controller;
    show(controller);
    ASSERT_EQ(controller.dataSource.stories.size(), stories.size());
    for (int i = 0; i < elsewhere.size(); ++i)
        EXPECT_EQ(bool(controller.dataSource.stories.at(i)->link()), !elsewhere.at(i).isEmpty())
            << i;

    for (const bool reader : { false, true }) {
        setSetting(readabilityOnOpenKey, reader);
        for (int row = 0; row < elsewhere.size(); ++row) {
            pointer.click(pointIn(controller, row));
            EXPECT_EQ(AppKit::opacity(cellAt(controller, row)->contentView), 0.5);
        }
    }
    EXPECT_TRUE(workspace.opened.isEmpty());
    // The web story's report is the only one that arrives.
    setSetting(readabilityOnOpenKey, false);
    pointer.click(pointIn(controller, elsewhere.size()));
    EXPECT_EQ(workspace.opened, QStringList { u"https://news.example.test/a"_s });
    EXPECT_EQ(reportedStory(0).value(u"url"_s).toString(), u"https://news.example.test/a"_s);
    EXPECT_EQ(server.requests().size(), 1);
}

namespace {

// The social network's identifier of the maker, for the life of the object.
struct FacebookIdentifier {
    explicit FacebookIdentifier(const QString& identifier)
    {
        ShareLinkSettings settings = previous;
        settings.facebookAppId = identifier;
        ShareLinkSettings::setCurrent(settings);
    }
    ~FacebookIdentifier() { ShareLinkSettings::setCurrent(previous); }
    const ShareLinkSettings previous = ShareLinkSettings::current();
};

} // namespace

TEST_F(StoryListController, OffersFacebookOnlyWithTheMakersIdentifier)
{
    const QVariantList items { u"Story"_s, QUrl(u"http://news.example/a"_s) };
    for (const QString& identifier : { u"123456789012345"_s, QString() }) {
        SCOPED_TRACE(identifier.toStdString());
        const FacebookIdentifier set(identifier);
        StoriesBaseViewController controller;
        QStringList options;
        for (const RowOption& option : controller.rowViewOptions(nullptr))
            options.append(option.identifier);
        QStringList services;
        for (const auto& service : SharingService::sharingServicesForItems(items).value_or(
                 QList<std::shared_ptr<const SharingService>>()))
            services.append(service->title());
        if (identifier.isEmpty()) {
            EXPECT_EQ(options, (QStringList { u"twitter"_s, u"instapaper"_s, u"readability"_s }));
            EXPECT_FALSE(services.contains(u"Facebook"_s));
            EXPECT_TRUE(services.contains(u"Twitter"_s));
        } else {
            EXPECT_EQ(options,
                (QStringList { u"twitter"_s, u"facebook"_s, u"instapaper"_s, u"readability"_s }));
            EXPECT_TRUE(services.contains(u"Facebook"_s));
        }
    }
}

TEST_F(StoryListController, OptionsOpenTheirPagesAndCloseTheRow)
{
    const FacebookIdentifier facebook(u"123456789012345"_s);
    StoriesBaseViewController controller;
    show(controller);
    ListCellView* cell = cellAt(controller, 0);
    EXPECT_EQ(cell->optionsView->buttonIdentifiers().keys(),
        (QStringList { u"facebook"_s, u"instapaper"_s, u"readability"_s, u"twitter"_s }));
    QStringList order;
    for (const RowOption& option : controller.rowViewOptions(nullptr))
        order.append(option.identifier);
    EXPECT_EQ(
        order, (QStringList { u"twitter"_s, u"facebook"_s, u"instapaper"_s, u"readability"_s }));

    const NewsStory& story = *controller.dataSource.stories.at(0);
    auto press = [&](const QString& identifier) {
        cell->setOptionsOpen(true);
        cell->optionsView->buttonIdentifiers().value(identifier)->click();
        EXPECT_FALSE(cell->optionsOpen()) << identifier.toStdString();
    };
    press(u"twitter"_s);
    press(u"facebook"_s);
    press(u"instapaper"_s);
    press(u"readability"_s);
    setSetting(readabilityOnOpenKey, true);
    press(u"readability"_s);
    cell->setOptionsOpen(true);
    controller.rowViewOptionPressed(u"Twitter"_s, cell); // no such option
    EXPECT_FALSE(cell->optionsOpen());

    EXPECT_EQ(workspace.opened,
        (QStringList { twitterShareURL(story)->absoluteString(),
            facebookShareURL(story)->absoluteString(), instapaperSaveURL(story)->absoluteString(),
            readabilityURL(story)->absoluteString(), story.link()->absoluteString() }));
    EXPECT_EQ(stateOf(controller, 0), StoryState::None);

    // No option reports a click: the report of a later press, on another row, comes first.
    const QString next = controller.dataSource.stories.at(1)->link()->absoluteString();
    pointer.click(pointIn(controller, 1));
    EXPECT_EQ(reportedStory(0).value(u"url"_s).toString(), next);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(StoryListController, HideAfterOpenRemovesTheRowAndCloseRemovesWithoutReading)
{
    setSetting(hideOnOpenKey, true);
    StoriesBaseViewController controller;
    show(controller);
    const auto first = controller.dataSource.stories.at(0);
    pointer.click(pointIn(controller, 0));
    EXPECT_EQ(workspace.opened.size(), 1);
    EXPECT_EQ(StoryStateData().stateForStory(*first), StoryState::Deleted);
    EXPECT_EQ(controller.dataSource.stories.size(), 4);
    EXPECT_EQ(controller.contentView()->tableView()->numberOfRows(), 4);

    const auto next = controller.dataSource.stories.at(0);
    ListCellView* cell = cellAt(controller, 0);
    pointer.click(QPointF(cell->contentView->closeButton->mapTo(
        &window, cell->contentView->closeButton->rect().center())));
    EXPECT_EQ(StoryStateData().stateForStory(*next), StoryState::Deleted);
    EXPECT_EQ(controller.dataSource.stories.size(), 3);
    EXPECT_EQ(workspace.opened.size(), 1);
}

// Another program holds the store: a story read stays read when its row is bound again, and a
// story closed leaves the list at once and does not come back, before and after the store takes
// the changes.
TEST_F(StoryListController, APressAndACloseWhileAnotherProgramHoldsTheStoreShowAtOnceAndStay)
{
    StoreTest::WaitLimit limit(150);
    ListWithHeader controller;
    show(controller);
    TableView* table = controller.contentView()->tableView();
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);

    const auto pressed = controller.dataSource.stories.at(1);
    pointer.click(pointIn(controller, 2));
    table->reloadDataForRowIndexes({ 2 }, { 0 });
    ASSERT_TRUE(cellAt(controller, 2)->data());
    EXPECT_TRUE(cellAt(controller, 2)->data()->read);

    const auto closed = controller.dataSource.stories.at(0);
    ListCellView* cell = cellAt(controller, 1);
    pointer.click(QPointF(cell->contentView->closeButton->mapTo(
        &window, cell->contentView->closeButton->rect().center())));
    ASSERT_GT(sharedDefaults()->keptChanges(), 0) << "the store was held";
    EXPECT_EQ(controller.dataSource.stories.size(), 4);
    EXPECT_EQ(table->numberOfRows(), 5);
    EXPECT_NE(*controller.dataSource.stories.at(0), *closed);

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return sharedDefaults()->keptChanges() == 0; }));
    TestSupport::processEvents();
    EXPECT_EQ(controller.dataSource.stories.size(), 4);
    EXPECT_EQ(table->numberOfRows(), 5);
    EXPECT_NE(*controller.dataSource.stories.at(0), *closed);
    EXPECT_EQ(*controller.dataSource.stories.at(0), *pressed);
    EXPECT_TRUE(cellAt(controller, 1)->data()->read);
    EXPECT_EQ(StoryStateData().stateForStory(*closed), StoryState::Deleted);
}

TEST_F(StoryListController, TheShareMenuOffersCopyLinkAndTheServices)
{
    StoriesBaseViewController controller;
    show(controller);
    const auto story = controller.dataSource.stories.at(1);
    QVariantList performed;
    const auto first
        = std::make_shared<SharingService>(u"Tom & Jerry"_s, QImage(8, 8, QImage::Format_RGB32),
            SharingService::Accepts(), [&](const QVariantList& items) { performed = items; });
    const auto second = std::make_shared<SharingService>(
        QString(), QImage(), SharingService::Accepts(), SharingService::Perform());
    using Services = QList<std::shared_ptr<const SharingService>>;
    QVariantList askedFor;
    SharingService::setProvider([&](const QVariantList& items) -> std::optional<Services> {
        askedFor = items;
        return Services { first, second };
    });

    pointer.click(pointIn(controller, 1), Qt::RightButton);
    ASSERT_TRUE(menu);
    EXPECT_EQ(menuView, cellAt(controller, 1));
    EXPECT_EQ(menu->title(), u"Share menu"_s);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), u"Copy link"_s);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), u"Tom && Jerry"_s);
    EXPECT_FALSE(actions[2]->icon().isNull());
    EXPECT_EQ(actions[3]->text(), QString());
    EXPECT_EQ(askedFor, (QVariantList { u"Story 1"_s, QUrl(story->link()->absoluteString()) }));

    actions[0]->trigger();
    EXPECT_EQ(pasteboard.calls,
        (QStringList { u"clear"_s, u"text/plain: "_s + story->link()->absoluteString() }));
    actions[2]->trigger();
    EXPECT_EQ(performed, askedFor);
    EXPECT_TRUE(workspace.opened.isEmpty());

    // No list: "Copy link" alone; an empty list: with the separator.
    SharingService::setProvider([](const QVariantList&) { return std::nullopt; });
    pointer.click(pointIn(controller, 0), Qt::RightButton);
    ASSERT_EQ(menu->actions().size(), 1);
    SharingService::setProvider([](const QVariantList&) { return Services(); });
    pointer.click(pointIn(controller, 0), Qt::RightButton);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_TRUE(menu->actions()[1]->isSeparator());
}

TEST_F(StoryListController, SharesTheTextImageAndLinkThatAStoryHas)
{
    const QUrl link(u"http://news.example/a"_s);
    auto full = StoryTest::story(link.toString(), 1, u"Headline"_s);
    full->setImageLink(Url::fromString(u"http://img.example/a.png"_s));
    EXPECT_EQ(StoriesBaseViewController::shareItems(*full),
        (QVariantList { u"Headline"_s, QUrl(u"http://img.example/a.png"_s), link }));
    QImage image(4, 4, QImage::Format_RGB32);
    full->setImage(image);
    EXPECT_EQ(StoriesBaseViewController::shareItems(*full),
        (QVariantList { u"Headline"_s, image, link }));

    auto bare = std::make_shared<NewsStory>(
        u""_s, u""_s, Url::fromString(link.toString()), std::nullopt, StoryTest::source());
    EXPECT_EQ(StoriesBaseViewController::shareItems(*bare), QVariantList { link });
    auto bodyOnly = std::make_shared<NewsStory>(
        std::nullopt, u"Body"_s, std::nullopt, std::nullopt, StoryTest::source());
    EXPECT_EQ(StoriesBaseViewController::shareItems(*bodyOnly), QVariantList { u"Body"_s });
    auto nothing = std::make_shared<NewsStory>(
        std::nullopt, std::nullopt, std::nullopt, std::nullopt, StoryTest::source());
    EXPECT_TRUE(StoriesBaseViewController::shareItems(*nothing).isEmpty());
}

TEST_F(StoryListController, ShowsTheSpinnerWhileReloadingAndNoNewsWhenEmpty)
{
    const QStringList headlines { u"Harbour bridge reopens after a year of repairs"_s,
        u"Local bakery wins the regional bread prize & a trophy"_s,
        u"Rail timetable changes from Monday"_s, u"New cycle lanes planned for the old town"_s,
        u"Library extends its opening hours over winter"_s };
    QList<std::shared_ptr<NewsStory>> stories;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < headlines.size(); ++i)
        stories.append(std::make_shared<NewsStory>(headlines[i],
            u"What happened, who said what, and what comes next for the people it touches."_s,
            Url::fromString(StoryTest::linkNumber(i)), now.addSecs(-1500 * (i + 1)),
            StoryTest::source()));
    (void)StoredStoriesData().storeStories(stories);
    // The pointer away from the list: rows at rest.
    QCursor::setPos(1200, 780);
    StoriesBaseViewController controller;
    show(controller);
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(window.grab().save(dir + u"/list-stories.png"_s));

    TodayView* view = controller.contentView();
    controller.willReload(&controller.dataSource);
    EXPECT_TRUE(view->spinner()->isAnimating());
    // Not loaded yet: the empty state is left alone.
    controller.dataSource.stories.clear();
    controller.didReload(&controller.dataSource);
    EXPECT_FALSE(view->spinner()->isAnimating());
    EXPECT_FALSE(view->isEmpty());

    // A refresh without sources ends with no stories.
    controller.dataSource.updateContents();
    EXPECT_TRUE(controller.dataSource.didLoad);
    EXPECT_TRUE(view->isEmpty());
    EXPECT_TRUE(view->expandButton()->isHidden());
    AppKit::layoutSubtreeIfNeeded(&window);
    TestSupport::processEvents();
    EXPECT_TRUE(window.grab().save(dir + u"/list-empty.png"_s));
}

TEST_F(StoryListController, ARowPressedStaysReadWhenItsPictureArrivesLater)
{
    // Pictures arrive after the rows are shown and rebind their row: the press in between
    // must not come undone.
    ListWithHeader controller;
    show(controller);
    TableView* table = controller.contentView()->tableView();
    pointer.click(pointIn(controller, 2));
    ASSERT_EQ(stateOf(controller, 1), StoryState::Read);
    ASSERT_EQ(AppKit::opacity(cellAt(controller, 2)->contentView), 0.5);

    table->reloadDataForRowIndexes({ 2 }, { 0 });
    ASSERT_TRUE(cellAt(controller, 2)->data());
    EXPECT_TRUE(cellAt(controller, 2)->data()->read);
    EXPECT_EQ(AppKit::opacity(cellAt(controller, 2)->contentView), 0.5);
    EXPECT_FALSE(cellAt(controller, 3)->data()->read);
}

namespace {

// The sizes of the constraint solvers of every view under `root`, added up.
ConstraintLayout::SolverSize solversUnder(const QWidget* root)
{
    ConstraintLayout::SolverSize total;
    for (QWidget* view : root->findChildren<QWidget*>()) {
        if (ConstraintLayout* layout
            = ConstraintLayout::of(view, ConstraintLayout::Lookup::ExistingOnly)) {
            const ConstraintLayout::SolverSize s = layout->solverSize();
            total.rows += s.rows;
            total.variables += s.variables;
            total.constraints += s.constraints;
        }
    }
    return total;
}

} // namespace

TEST_F(StoryListController, AReloadReplacesItsRowsWithoutLeavingViewsOrSolverRowsBehind)
{
    StoriesBaseViewController controller;
    show(controller);
    TableView* table = controller.contentView()->tableView();
    ASSERT_EQ(table->numberOfRows(), 5);
    struct Held {
        qsizetype objects = 0;
        ConstraintLayout::SolverSize solver;
        bool operator==(const Held&) const = default;
    };
    const auto held = [&] {
        // What the last reload's deferred deletions leave, once they ran.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Held h;
        h.objects = table->findChildren<QObject*>().size();
        h.solver = solversUnder(table);
        return h;
    };
    const auto reload = [&] {
        table->reloadData();
        AppKit::layoutSubtreeIfNeeded(&window);
        TestSupport::processEvents();
    };
    const auto titles = [&] {
        QStringList shown;
        for (int row = 0; row < table->numberOfRows(); ++row)
            shown.append(cellAt(controller, row)->contentView->titleLabel->stringValue());
        return shown;
    };
    reload();
    const Held first = held();
    const QStringList firstTitles = titles();
    for (int i = 0; i < 12; ++i)
        reload();
    const Held later = held();
    EXPECT_EQ(later.objects, first.objects);
    EXPECT_EQ(later.solver.constraints, first.solver.constraints);
    EXPECT_EQ(later.solver.variables, first.solver.variables);
    EXPECT_EQ(later.solver.rows, first.solver.rows);
    // The rows still show their stories and their option strips.
    ASSERT_EQ(table->numberOfRows(), 5);
    for (int row = 0; row < 5; ++row) {
        ListCellView* cell = cellAt(controller, row);
        ASSERT_TRUE(cell);
        EXPECT_EQ(
            cell->optionsView->buttonIdentifiers().size(), controller.rowViewOptions(cell).size());
    }
    EXPECT_EQ(titles(), firstTitles);
}

TEST_F(StoryListController, ReloadsOfOtherStoriesEachTimeLeaveTheWindowAsTheyFoundIt)
{
    // What the stories window does at every refresh: other stories, the table reloaded.
    StoriesBaseViewController controller;
    show(controller);
    TableView* table = controller.contentView()->tableView();
    int round = 0;
    const auto refresh = [&] {
        storeStories(5, ++round);
        controller.dataSource.updateCurrentStories();
        AppKit::layoutSubtreeIfNeeded(&window);
        TestSupport::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    struct Held {
        qsizetype widgets = 0;
        qsizetype objects = 0;
        std::size_t animations = 0;
        ConstraintLayout::SolverSize solver;
        bool operator==(const Held&) const = default;
    };
    const auto held = [&] {
        Held h;
        h.widgets = QApplication::allWidgets().size();
        h.objects = window.findChildren<QObject*>().size();
        h.animations = AnimationContext::runningGroupCount();
        h.solver = solversUnder(&window);
        return h;
    };
    refresh();
    refresh();
    const Held first = held();
    for (int i = 0; i < 10; ++i)
        refresh();
    const Held later = held();
    EXPECT_EQ(later.widgets, first.widgets);
    EXPECT_EQ(later.objects, first.objects);
    EXPECT_EQ(later.animations, first.animations);
    EXPECT_EQ(later.solver.constraints, first.solver.constraints);
    EXPECT_EQ(later.solver.variables, first.solver.variables);
    EXPECT_EQ(later.solver.rows, first.solver.rows);
    ASSERT_EQ(table->numberOfRows(), 5);
    EXPECT_TRUE(
        controller.dataSource.stories.first()->link()->absoluteString().endsWith(u"round=12"_s));
    EXPECT_EQ(cellAt(controller, 0)->contentView->titleLabel->stringValue(), u"Story 0"_s);
}

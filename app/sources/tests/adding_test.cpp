#include "app/shell/Application.h"
#include "app/shell/Storyboards.h"
#include "app/sources/AddButton.h"
#include "app/sources/PopularCollectionViewItem.h"
#include "app/shell/FlatButton.h"
#include "app/sources/PopularPanel.h"
#include "app/sources/SourceRowView.h"
#include "app/sources/SourcesView.h"
#include "app/sources/SourcesViewController.h"
#include "app/sources/SourcesWindowController.h"
#include "app/sources/tests/SourcesTesting.h"
#include "data/discovery/tests/DiscoveryTestSupport.h"
#include "testsupport/LogCollector.h"
#include "testsupport/SearchStandIn.h"
#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "data/model/TopFeedsData.h"
#include "data/model/tests/ReadOnlyStore.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using SourcesTesting::shownNames;
using SourcesTesting::SoundRecorder;

namespace {

// The sources window of the application, in a world of loopback sites: "feeds.planet.test/rss"
// is a feed of the site "planet.test", which has a red icon; "dull.test" has no feed at all.
class SourcesWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerApplicationStoryboards();
        SearchStandIn::installKey("Qzb3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A");
        search.answer([](const QString&) { return SearchStandIn::results({}); });
        for (const auto& host : { u"feeds.planet.test"_s, u"planet.test"_s, u"dull.test"_s })
            UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
        server.reply(
            u"/rss"_s, TestSupport::bodyReply(DiscoveryTest::rss("Planet", "http://planet.test/")));
        DiscoveryTest::serveSitePages(server, "planet.test", Qt::red);
    }
    void TearDown() override
    {
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    void open()
    {
        application.openSourcesWindow();
        controller = controllerCast<SourcesWindowController>(application.sourcesWindowController());
        ASSERT_TRUE(controller);
        window = controller->window();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window, TestSupport::waitBoundMs));
        bar = controller->searchBar();
        ASSERT_TRUE(bar);
        table = controller->listViewController()->tableView();
    }
    // Types `text` into the field from a click on it, and presses Return.
    void typeAndReturn(const QString& text)
    {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
        QTest::keyClicks(bar, text);
        QTest::keyClick(bar, Qt::Key_Return);
    }
    QRect panelFrame() const { return controller->popularWindowController()->window()->geometry(); }
    QRect barFrame() const { return QRect(bar->mapTo(window, QPoint(0, 0)), bar->size()); }

    TestSupport::LoopbackServer server;
    SearchStandIn search { server };
    Application application;
    std::shared_ptr<SourcesWindowController> controller;
    TopLevelWindow* window = nullptr;
    SearchBar* bar = nullptr;
    TableView* table = nullptr;
    SoundRecorder sounds;
};

} // namespace

TEST(PopularWindowFrame, IsCentredOnTheWindowRightBelowTheSearchBar)
{
    EXPECT_EQ(popularWindowFrame(QSize(600, 680), QRect(14, 40, 400, 24)), QRect(40, 64, 520, 250));
    EXPECT_EQ(popularWindowFrame(QSize(541, 420), QRect(14, 30, 300, 26)), QRect(10, 56, 520, 250));
}

TEST_F(SourcesWindow, ClickTypeReturnAddsTheSourceWithASoundAndItsRowShowsItsIcon)
{
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(bar->placeholderText(), u"Add a feed: type its address or search words"_s);
    EXPECT_EQ(table->numberOfRows(), 0);

    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    ASSERT_TRUE(controller->popularWindowController());
    EXPECT_TRUE(bar->hasFocus());
    QTest::keyClicks(bar, u"http://feeds.planet.test/rss"_s);
    QTest::keyClick(bar, Qt::Key_Return);
    // The panel goes as soon as editing ends; the spinner turns while the source is looked for.
    EXPECT_FALSE(controller->popularWindowController());
    EXPECT_TRUE(controller->spinner()->isAnimating());
    EXPECT_TRUE(controller->spinner()->isVisible());

    ASSERT_TRUE(TestSupport::waitFor([&] { return !sounds.played.isEmpty(); }));
    EXPECT_EQ(sounds.played, QStringList { u"Add feed.wav"_s });
    EXPECT_EQ(bar->text(), QString());
    EXPECT_FALSE(controller->spinner()->isAnimating());
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return shownNames(*table) == QStringList { u"Planet"_s }; }));
    auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(0));
    ASSERT_TRUE(cell);
    ASSERT_TRUE(TestSupport::waitFor([&] {
        const auto icon = cell->contentView()->icon()->image();
        return icon && !icon->isNull()
            && QColor(icon->pixel(icon->width() / 2, icon->height() / 2)) == QColor(Qt::red);
    }));
}

TEST_F(SourcesWindow, SearchWordsAreHandedOverUntrimmedAndFindTheFeedThroughTheWebSearch)
{
    search.answer([](const QString& words) {
        return SearchStandIn::results(words.contains(u"planet"_s)
                ? QStringList { u"http://feeds.planet.test/rss"_s }
                : QStringList {});
    });
    ASSERT_NO_FATAL_FAILURE(open());
    typeAndReturn(u"planet news "_s);
    ASSERT_TRUE(TestSupport::waitFor([&] { return !sounds.played.isEmpty(); }));
    EXPECT_EQ(search.searches(), QStringList { u"planet news "_s });
    EXPECT_EQ(bar->text(), QString());
    ASSERT_EQ(SourcesData().sources().size(), 1);
    EXPECT_EQ(SourcesData().sources()[0]->title(), u"Planet"_s);
}

TEST_F(SourcesWindow, AnAddressWithoutAFeedShowsTheBannerAndKeepsTheText)
{
    ASSERT_NO_FATAL_FAILURE(open());
    auto* view = controller->listViewController()->contentView();
    typeAndReturn(u"http://dull.test/"_s);
    ASSERT_TRUE(TestSupport::waitFor([&] { return !controller->spinner()->isAnimating(); }));
    ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorVisible(); }));
    EXPECT_EQ(view->errorLabel()->text(), u"No feed was found there"_s);
    EXPECT_EQ(bar->text(), u"http://dull.test/"_s);
    // In place, the banner leaves the field and the window's buttons whole.
    ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorLabel()->y() == 0; }));
    for (const QWidget* below :
        bar->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (below->isVisible()) {
            EXPECT_LT(view->errorLabel()->geometry().bottom(), below->mapTo(view, QPoint(0, 0)).y())
                << below->metaObject()->className();
        }
    }
    EXPECT_TRUE(sounds.played.isEmpty());
    EXPECT_TRUE(SourcesData().sources().isEmpty());

    // Return on an empty field adds nothing.
    bar->clear();
    const auto requests = server.requests().size();
    QTest::keyClick(bar, Qt::Key_Return);
    EXPECT_FALSE(controller->spinner()->isAnimating());
    TestSupport::processEvents();
    EXPECT_EQ(server.requests().size(), requests);
}

// The product's list names the feed otherwise than its channel does: typed in and taken from
// the panel, in either order, it is still one stored source, which the panel shows as added.
TEST_F(SourcesWindow, OneFeedIsStoredOnceWhicheverWayItIsAddedFirst)
{
    const QString address = u"http://feeds.planet.test/rss"_s;
    (void)TopFeedsData().setTopFeeds({ std::make_shared<TopFeedSource>(
        7, std::make_shared<Source>(u"Planet News"_s, address)) });
    int icons = 0;
    const ObserverToken iconUpdates
        = NotificationCenter::defaultCenter().addObserver(SourceIconData::iconUpdateNotification(),
            nullptr, [&icons](const Notification&) { ++icons; });
    ASSERT_NO_FATAL_FAILURE(open());
    // The panel's button for the feed, the panel opened anew when it is gone.
    const auto panelButton = [&]() -> AddButton* {
        TestSupport::processEvents();
        if (!controller->popularWindowController()) {
            bar->clearFocus();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
        }
        const auto panel = controller->popularWindowController();
        auto* content = panel ? qobject_cast<PopularViewController*>(panel->contentViewController())
                              : nullptr;
        auto* item = content
            ? qobject_cast<PopularCollectionViewItem*>(content->collectionView()->itemAtIndex(0))
            : nullptr;
        return item ? item->addButton() : nullptr;
    };
    const auto press = [](AddButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    };
    // Typed and added with its sound, and its icon search over.
    const auto type = [&] {
        const auto soundsBefore = sounds.played.size();
        const int iconsBefore = icons;
        if (!bar->hasFocus())
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
        QTest::keyClicks(bar, address);
        QTest::keyClick(bar, Qt::Key_Return);
        ASSERT_TRUE(TestSupport::waitFor([&] { return sounds.played.size() > soundsBefore; }));
        ASSERT_TRUE(TestSupport::waitFor([&] { return icons > iconsBefore; }));
    };
    const auto stored = [] {
        QStringList shown;
        for (const auto& source : SourcesData().sources())
            shown << source->title() + u" "_s + source->link();
        return shown;
    };

    for (const bool typedFirst : { true, false }) {
        SCOPED_TRACE(typedFirst ? "typed, then from the panel" : "from the panel, then typed");
        const QString title = typedFirst ? u"Planet"_s : u"Planet News"_s;
        if (typedFirst) {
            type();
        } else {
            AddButton* button = panelButton();
            ASSERT_TRUE(button);
            EXPECT_FALSE(button->added());
            press(button);
            type();
        }
        EXPECT_EQ(stored(), QStringList { title + u" "_s + address });
        AddButton* button = panelButton();
        ASSERT_TRUE(button);
        EXPECT_TRUE(button->added());
        // Its button takes the stored source out, whatever its title.
        press(button);
        EXPECT_TRUE(stored().isEmpty());
        button = panelButton();
        ASSERT_TRUE(button);
        EXPECT_FALSE(button->added());
        bar->clearFocus();
    }
}

TEST_F(SourcesWindow, ThePanelHangsUnderTheFieldWhileItHasTheFocusAndLeavesItThere)
{
    (void)TopFeedsData().setTopFeeds({ std::make_shared<TopFeedSource>(
        7, std::make_shared<Source>(u"Moon"_s, u"http://127.0.0.1:9/moon"_s)) });
    ASSERT_NO_FATAL_FAILURE(open());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    const auto panel = controller->popularWindowController();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->window()->isVisible());
    EXPECT_EQ(panel->window()->parentWidget(), window);
    EXPECT_EQ(panelFrame(), popularWindowFrame(window->size(), barFrame()));
    EXPECT_EQ(panelFrame().size(), QSize(520, 250));
    EXPECT_EQ(panelFrame().top(), barFrame().bottom() + 1);

    // Focused again while it is shown: the same panel.
    QFocusEvent again(QEvent::FocusIn, Qt::OtherFocusReason);
    QApplication::sendEvent(bar, &again);
    EXPECT_EQ(controller->popularWindowController(), panel);

    // A click on a feed's add button adds it and leaves the field editing.
    auto* content = qobject_cast<PopularViewController*>(panel->contentViewController());
    auto* item
        = qobject_cast<PopularCollectionViewItem*>(content->collectionView()->itemAtIndex(0));
    ASSERT_TRUE(item);
    QTest::mouseClick(item->addButton(), Qt::LeftButton, {}, item->addButton()->rect().center());
    EXPECT_TRUE(bar->hasFocus());
    EXPECT_EQ(controller->popularWindowController(), panel);
    EXPECT_EQ(SourcesData().sources().size(), 1);

    // Resized: the panel is placed again.
    window->resize(760, 600);
    TestSupport::processEvents();
    EXPECT_EQ(panelFrame(), QRect((window->width() - 520) / 2, barFrame().bottom() + 1, 520, 250));

    // Switching to another program is no end of editing: nothing is added, the panel stays.
    QTest::keyClicks(bar, u"http://dull.test/"_s);
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(bar, &away);
    EXPECT_EQ(controller->popularWindowController(), panel);
    EXPECT_FALSE(controller->spinner()->isAnimating());

    // Leaving the field with nothing typed ends editing: the panel goes, nothing is added.
    bar->clear();
    bar->clearFocus();
    EXPECT_FALSE(controller->popularWindowController());
    EXPECT_FALSE(controller->spinner()->isAnimating());
    EXPECT_TRUE(window->childWindows().isEmpty());
}

TEST_F(SourcesWindow, ComingBackToTheWindowIsNoNewFocusOfTheField)
{
    ASSERT_NO_FATAL_FAILURE(open());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    ASSERT_TRUE(controller->popularWindowController());
    QTest::keyClick(bar, Qt::Key_Return);
    ASSERT_FALSE(controller->popularWindowController());
    ASSERT_TRUE(bar->hasFocus());

    // Another window, then back: editing had ended, so the panel stays away.
    application.openPreferencesWindow();
    TopLevelWindow* other = application.preferencesWindowController()->window();
    other->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(other, TestSupport::waitBoundMs));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, TestSupport::waitBoundMs));
    EXPECT_TRUE(bar->hasFocus());
    EXPECT_FALSE(controller->popularWindowController());

    // Taking the focus anew brings the panel again.
    bar->clearFocus();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    EXPECT_TRUE(controller->popularWindowController());
}

namespace {

// Counts the texts the search bar hands over, and hands them on to the window's controller.
struct HandOverCounter final : SearchBarDelegate {
    bool controlTextShouldEndEditing(QObject* control) override
    {
        if (auto* field = qobject_cast<QLineEdit*>(control); field && !field->text().isEmpty())
            ++handed;
        return next->controlTextShouldEndEditing(control);
    }
    SearchBarDelegate* next = nullptr;
    int handed = 0;
};

QToolButton* bandButton(SearchBar* bar, const QString& title)
{
    for (QToolButton* button : bar->parentWidget()->findChildren<QToolButton*>()) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

} // namespace

// Typing in the field and then using the window: only Return, or moving the focus on from text
// not handed over yet, starts an add. Menus, other windows and controls that take no focus
// leave the field editing.
TEST_F(SourcesWindow, OnlyReturnOrMovingOnFromNewTextStartsAnAdd)
{
    (void)TopFeedsData().setTopFeeds({ std::make_shared<TopFeedSource>(
        7, std::make_shared<Source>(u"Moon"_s, u"http://127.0.0.1:9/moon"_s)) });
    ASSERT_NO_FATAL_FAILURE(open());
    HandOverCounter counter;
    counter.next = controller.get();
    bar->setDelegate(&counter);
    auto* view = controller->listViewController()->contentView();
    const QString typed = u"http://dull.test/"_s;
    const auto waitForTheFailure = [&] {
        ASSERT_TRUE(TestSupport::waitFor([&] { return !controller->spinner()->isAnimating(); }));
        ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorVisible(); }));
    };
    const auto clickAt = [](QWidget* target) {
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    };
    const auto removeButton = [&]() -> QWidget* {
        auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(0));
        return cell ? cell->contentView()->remove() : nullptr;
    };
    QWidget other;

    struct Case {
        const char* name;
        // Run with the text typed into the focused field.
        std::function<void()> act;
        int adds;
    };
    const QList<Case> cases {
        { "Alt, then Esc back from the menu bar",
            [&] {
                QTest::keyClick(bar, Qt::Key_Alt);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            },
            0 },
        { "Alt+W",
            [&] {
                QTest::keyClick(bar, Qt::Key_W, Qt::AltModifier);
                TestSupport::processEvents();
                while (QWidget* menu = QApplication::activePopupWidget())
                    QTest::keyClick(menu, Qt::Key_Escape);
                if (QApplication::focusWidget() != bar)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            },
            0 },
        { "a menu shortcut", [&] { QTest::keyClick(bar, Qt::Key_R, Qt::ControlModifier); }, 0 },
        { "REMOVE",
            [&] {
                SourcesTesting::store(
                    { SourcesTesting::source(u"Kept"_s, u"http://kept.test/"_s) });
                ASSERT_TRUE(removeButton());
                clickAt(removeButton());
                EXPECT_TRUE(SourcesData().sources().isEmpty()) << "the click removes the source";
            },
            0 },
        { "a popular feed's button",
            [&] {
                ASSERT_TRUE(controller->popularWindowController());
                auto* content = qobject_cast<PopularViewController*>(
                    controller->popularWindowController()->contentViewController());
                auto* item = qobject_cast<PopularCollectionViewItem*>(
                    content->collectionView()->itemAtIndex(0));
                ASSERT_TRUE(item);
                clickAt(item->addButton());
            },
            0 },
        { "Stories", [&] { clickAt(bandButton(bar, u"Stories"_s)); }, 0 },
        { "Preferences", [&] { clickAt(bandButton(bar, u"Preferences"_s)); }, 0 },
        { "another window",
            [&] {
                other.show();
                other.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&other, TestSupport::waitBoundMs));
            },
            0 },
        { "Tab after a failed add",
            [&] {
                QTest::keyClick(bar, Qt::Key_Tab);
                waitForTheFailure();
                clickAt(bar);
                QTest::keyClick(bar, Qt::Key_Tab);
                clickAt(bar);
                clickAt(table);
            },
            1 },
        { "Return", [&] { QTest::keyClick(bar, Qt::Key_Return); }, 1 },
        { "Tab", [&] { QTest::keyClick(bar, Qt::Key_Tab); }, 1 },
        { "Return after a failed add",
            [&] {
                QTest::keyClick(bar, Qt::Key_Return);
                waitForTheFailure();
                QTest::keyClick(bar, Qt::Key_Return);
            },
            2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window, TestSupport::waitBoundMs));
        bar->clear();
        clickAt(bar);
        ASSERT_TRUE(bar->hasFocus());
        QTest::keyClicks(bar, typed);
        const int before = counter.handed;
        c.act();
        TestSupport::processEvents();
        EXPECT_EQ(counter.handed - before, c.adds);
        EXPECT_EQ(bar->text(), typed);
        if (c.adds == 0 && window->isActiveWindow()) {
            EXPECT_TRUE(bar->hasFocus()) << "the field goes on editing";
        }
        // Back to the start: only the sources window open, no add under way.
        ASSERT_TRUE(TestSupport::waitFor([&] { return !controller->spinner()->isAnimating(); }));
        other.hide();
        if (application.storiesWindowController())
            application.openStoriesWindow();
        if (application.preferencesWindowController())
            application.openPreferencesWindow();
        bar->clear();
        bar->clearFocus();
    }
}

TEST_F(SourcesWindow, EscClosesThePanelAndTheFieldKeepsItsText)
{
    ASSERT_NO_FATAL_FAILURE(open());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    QTest::keyClicks(bar, u"planet"_s);
    ASSERT_TRUE(controller->popularWindowController());
    QTest::keyClick(bar, Qt::Key_Escape);
    EXPECT_FALSE(controller->popularWindowController());
    EXPECT_TRUE(window->childWindows().isEmpty());
    EXPECT_EQ(bar->text(), u"planet"_s);
    EXPECT_TRUE(bar->hasFocus());
    EXPECT_FALSE(controller->spinner()->isAnimating()) << "nothing is added";
}

// The stored list shows from a store that cannot be written, and every change the person asks
// for says it was not saved.
TEST_F(SourcesWindow, AStoreThatCannotBeWrittenSaysSoOnAnAddAndARemoval)
{
    (void)SourcesData().addSource(
        std::make_shared<Source>(u"Planet"_s, u"http://feeds.planet.test/rss"_s));
    ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.ok());
    const TestSupport::LogCollector log;

    ASSERT_NO_FATAL_FAILURE(open());
    auto* view = controller->listViewController()->contentView();
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return shownNames(*table) == QStringList { u"Planet"_s }; }));
    auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(0));
    ASSERT_TRUE(cell);
    // No icon can be stored: the row shows none instead of searching for ever.
    EXPECT_TRUE(cell->contentView()->spinner()->isHidden());

    FlatButton* remove = cell->contentView()->remove();
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorVisible(); }));
    EXPECT_EQ(view->errorLabel()->text(), u"The change could not be saved"_s);
    EXPECT_EQ(shownNames(*table), QStringList { u"Planet"_s });
    EXPECT_TRUE(sounds.played.isEmpty()) << "no removal sounds";
    EXPECT_TRUE(log.contains(u"the store refused the removal of"_s))
        << log.lines().join(u'\n').toStdString();

    ASSERT_TRUE(TestSupport::waitFor([&] { return !view->errorVisible(); }));
    typeAndReturn(u"http://dull.test/rss"_s);
    ASSERT_TRUE(TestSupport::waitFor([&] { return !controller->spinner()->isAnimating(); }));
    ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorVisible(); }));
    EXPECT_EQ(view->errorLabel()->text(), u"The change could not be saved"_s);
    EXPECT_EQ(bar->text(), u"http://dull.test/rss"_s) << "the text stays to try again";
    EXPECT_TRUE(sounds.played.isEmpty()) << "nothing is reported as added";
}

// Another program holds the store: a removal and an addition show in the list at once, as kept
// changes, and stay as they are once the store is free and has them.
TEST_F(SourcesWindow, ChangesKeptWhileAnotherProgramHoldsTheStoreShowAtOnceAndStay)
{
    StoreTest::WaitLimit limit(150);
    (void)SourcesData().addSource(
        std::make_shared<Source>(u"Planet"_s, u"http://feeds.planet.test/rss"_s));
    (void)SourcesData().addSource(std::make_shared<Source>(u"Other"_s, u"http://other.test/rss"_s));
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return shownNames(*table) == QStringList { u"Planet"_s, u"Other"_s };
    }));
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);

    auto* cell = dynamic_cast<SourceTableViewCell*>(table->viewAtRow(0));
    ASSERT_TRUE(cell);
    FlatButton* remove = cell->contentView()->remove();
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return shownNames(*table) == QStringList { u"Other"_s }; }));
    EXPECT_GT(sharedDefaults()->keptChanges(), 0) << "the store was held";

    typeAndReturn(u"http://feeds.planet.test/rss"_s);
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return shownNames(*table) == QStringList { u"Other"_s, u"Planet"_s };
    }));
    EXPECT_TRUE(sounds.played.contains(u"Add feed.wav"_s));

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return sharedDefaults()->keptChanges() == 0; }));
    TestSupport::processEvents();
    EXPECT_EQ(shownNames(*table), (QStringList { u"Other"_s, u"Planet"_s }));
    const auto* view = controller->listViewController()->contentView();
    EXPECT_FALSE(view->errorVisible());
    QStringList stored;
    for (const auto& source : SourcesData().sources())
        stored << source->title();
    EXPECT_EQ(stored, (QStringList { u"Other"_s, u"Planet"_s }));
}

// The popular panel's buttons on a store that cannot be written: each change says so in the
// sources window's banner, as the field and the list's remove button do, and in the log.
TEST_F(SourcesWindow, APopularFeedsChangeTheStoreRefusesShowsTheBanner)
{
    (void)SourcesData().addSource(
        std::make_shared<Source>(u"Planet"_s, u"http://127.0.0.1:9/planet"_s));
    (void)TopFeedsData().setTopFeeds(
        { std::make_shared<TopFeedSource>(
              9, std::make_shared<Source>(u"Moon"_s, u"http://127.0.0.1:9/moon"_s)),
            std::make_shared<TopFeedSource>(
                7, std::make_shared<Source>(u"Planet"_s, u"http://127.0.0.1:9/planet"_s)) });
    ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.ok());
    const TestSupport::LogCollector log;

    ASSERT_NO_FATAL_FAILURE(open());
    auto* view = controller->listViewController()->contentView();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    const auto buttonOf = [&](int index) -> AddButton* {
        TestSupport::processEvents();
        const auto panel = controller->popularWindowController();
        auto* content = panel ? qobject_cast<PopularViewController*>(panel->contentViewController())
                              : nullptr;
        auto* item = content ? qobject_cast<PopularCollectionViewItem*>(
                         content->collectionView()->itemAtIndex(index))
                             : nullptr;
        return item ? item->addButton() : nullptr;
    };
    for (const int index : { 0, 1 }) {
        SCOPED_TRACE(index == 0 ? "an addition" : "a removal");
        AddButton* button = buttonOf(index);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->added(), index == 1);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        ASSERT_TRUE(TestSupport::waitFor([&] { return view->errorVisible(); }));
        EXPECT_EQ(view->errorLabel()->text(), u"The change could not be saved"_s);
        EXPECT_TRUE(log.contains(index == 0 ? u"the store refused the addition of"_s
                                            : u"the store refused the removal of"_s));
        EXPECT_TRUE(bar->hasFocus()) << "the field goes on editing";
        EXPECT_TRUE(controller->popularWindowController()) << "the panel stays";
        if (index == 0) {
            // Once the banner has slid in.
            EXPECT_TRUE(TestSupport::waitFor([&] { return view->errorLabel()->y() == 0; }));
            SourcesTesting::saveScreenshot(window, u"sources-popular-refused.png"_s);
        }
        ASSERT_TRUE(TestSupport::waitFor([&] { return !view->errorVisible(); }));
        ASSERT_TRUE(buttonOf(index));
        EXPECT_EQ(buttonOf(index)->added(), index == 1) << "the button shows what is stored";
    }
    EXPECT_EQ(shownNames(*table), QStringList { u"Planet"_s });
}

TEST_F(SourcesWindow, ItsButtonsOpenTheStoriesAndPreferencesWindows)
{
    ASSERT_NO_FATAL_FAILURE(open());
    QToolButton* stories = nullptr;
    QToolButton* preferences = nullptr;
    for (QToolButton* button : bar->parentWidget()->findChildren<QToolButton*>()) {
        if (button->text() == u"Stories"_s)
            stories = button;
        else if (button->text() == u"Preferences"_s)
            preferences = button;
    }
    ASSERT_TRUE(stories && preferences);
    QTest::mouseClick(stories, Qt::LeftButton);
    EXPECT_TRUE(application.storiesWindowController());
    QTest::mouseClick(preferences, Qt::LeftButton);
    EXPECT_TRUE(application.preferencesWindowController());
    // Toggles, as the menu's items are.
    QTest::mouseClick(stories, Qt::LeftButton);
    EXPECT_FALSE(application.storiesWindowController());
}

TEST_F(SourcesWindow, Screenshot)
{
    (void)TopFeedsData().setTopFeeds(
        { std::make_shared<TopFeedSource>(
              7, std::make_shared<Source>(u"Moon Daily"_s, u"http://127.0.0.1:9/moon"_s)),
            std::make_shared<TopFeedSource>(
                5, std::make_shared<Source>(u"Planet News"_s, u"http://127.0.0.1:9/planet"_s)),
            std::make_shared<TopFeedSource>(3,
                std::make_shared<Source>(u"Harbour Weekly"_s, u"http://127.0.0.1:9/harbour"_s)) });
    (void)SourcesData().addSource(
        std::make_shared<Source>(u"Planet News"_s, u"http://127.0.0.1:9/planet"_s));
    TestSupport::processEvents();
    ASSERT_NO_FATAL_FAILURE(open());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rect().center());
    QTest::keyClicks(bar, u"planet"_s);
    TestSupport::processEvents();
    // The panel hangs under the field with a painted row per feed; the stored one offers removal.
    const auto panel = controller->popularWindowController();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->window()->isVisible());
    EXPECT_EQ(panelFrame().top(), barFrame().bottom() + 1);
    auto* content = qobject_cast<PopularViewController*>(panel->contentViewController());
    ASSERT_TRUE(content);
    ASSERT_EQ(content->contents().size(), 3);
    const QImage image = panel->window()->grab().toImage();
    for (int i = 0; i < 3; ++i) {
        auto* item
            = qobject_cast<PopularCollectionViewItem*>(content->collectionView()->itemAtIndex(i));
        ASSERT_TRUE(item);
        const QRect frame(item->view()->mapTo(panel->window(), QPoint(0, 0)), item->view()->size());
        EXPECT_GT(TestSupport::coloursIn(image, frame), 2) << i;
        EXPECT_EQ(item->addButton()->added(),
            content->contents()[i]->source()->title() == u"Planet News"_s)
            << i;
    }
    EXPECT_EQ(bar->text(), u"planet"_s);
    EXPECT_TRUE(bar->hasFocus());
    QDir().mkpath(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    EXPECT_TRUE(window->grab().save(QStringLiteral(TICKERLY_SCREENSHOT_DIR "/popular-open.png")));
}

namespace {

// The application's help and refresh actions, on the main queue's virtual clock.
class MenuActions : public ::testing::Test {
protected:
    void SetUp() override { registerApplicationStoryboards(); }
    void TearDown() override
    {
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    SourcesViewController* sourcesList() const
    {
        const auto& sources = application.sourcesWindowController();
        return sources ? qobject_cast<SourcesViewController*>(sources->contentViewController())
                       : nullptr;
    }

    SourcesTesting::VirtualTime time;
    SoundRecorder sounds;
    Application application;
};

} // namespace

TEST_F(MenuActions, InstallHelpOpensTheSourcesWindowWhenNeededAndTogglesTheHelp)
{
    // Not the first run: the window opens without the help.
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    application.installHelp();
    const auto opened = application.sourcesWindowController();
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->window()->isVisible());
    time.advance(0.6);
    EXPECT_FALSE(sourcesList()->installationViewHidden());

    // Open already: the same window, the help goes.
    application.installHelp();
    time.advance(0.6);
    EXPECT_EQ(application.sourcesWindowController(), opened);
    EXPECT_TRUE(sourcesList()->installationViewHidden());
}

TEST_F(MenuActions, RefreshStoriesRefreshesAnOpenStoriesWindowOnly)
{
    application.refreshStories();
    EXPECT_FALSE(application.storiesWindowController());
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty()
        || std::none_of(QApplication::topLevelWidgets().cbegin(),
            QApplication::topLevelWidgets().cend(), [](QWidget* w) { return w->isVisible(); }));
    EXPECT_TRUE(sounds.played.isEmpty());

    application.openStoriesWindow();
    ASSERT_TRUE(application.storiesWindowController());
    application.refreshStories();
    EXPECT_EQ(sounds.played, QStringList { u"clickwave.wav"_s });
}

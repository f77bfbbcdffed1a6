#include "app/shell/AppDelegate.h"
#include "app/shell/Application.h"
#include "app/shell/LaunchUpdates.h"
#include "app/shell/Storyboards.h"
#include "app/shell/Window.h"
#include "app/sources/tests/SourcesTesting.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

using Property = const std::shared_ptr<WindowController>& (Application::*)() const;
using Toggle = void (Application::*)(QObject*);

struct WindowKind {
    const char* name;
    Property property;
    Toggle toggle;
};

const WindowKind kWindows[] = {
    { "stories", &Application::storiesWindowController, &Application::openStoriesWindow },
    { "sources", &Application::sourcesWindowController, &Application::openSourcesWindow },
    { "preferences", &Application::preferencesWindowController,
        &Application::openPreferencesWindow },
};

void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class ApplicationShell : public testing::Test {
protected:
    void SetUp() override
    {
        registerApplicationStoryboards();
        previousUpdates = setLaunchUpdates(
            { [this] { updates << u"source names"_s; }, [this] { updates << u"top feeds"_s; } });
        application.setDelegate(&delegate);
    }
    void TearDown() override
    {
        setLaunchUpdates(previousUpdates);
        QApplication::closeAllWindows();
        delegate.setWindowController(nullptr);
        flushDeferredDeletes();
    }

    Application application;
    AppDelegate delegate;
    QStringList updates;
    LaunchUpdates previousUpdates;
};

} // namespace

TEST_F(ApplicationShell, EachToggleOpensClosesAndThenOpensANewController)
{
    for (const WindowKind& kind : kWindows) {
        SCOPED_TRACE(kind.name);
        (application.*kind.toggle)(nullptr);
        const std::shared_ptr<WindowController> first = (application.*kind.property)();
        ASSERT_TRUE(first);
        QPointer<TopLevelWindow> firstWindow = first->window();
        EXPECT_TRUE(firstWindow->isVisible());

        (application.*kind.toggle)(nullptr);
        EXPECT_FALSE((application.*kind.property)());
        EXPECT_FALSE(firstWindow->isVisible());

        (application.*kind.toggle)(nullptr);
        const std::shared_ptr<WindowController> second = (application.*kind.property)();
        ASSERT_TRUE(second);
        EXPECT_NE(second, first);
        EXPECT_NE(second->window(), firstWindow.data());
        EXPECT_TRUE(second->window()->isVisible());
    }
}

TEST_F(ApplicationShell, AToggleClosesAMinimisedWindowInsteadOfRaisingIt)
{
    application.openStoriesWindow(nullptr);
    QPointer<TopLevelWindow> window = application.storiesWindowController()->window();
    window->showMinimized();
    application.openStoriesWindow(nullptr);
    EXPECT_FALSE(application.storiesWindowController());
    flushDeferredDeletes();
    EXPECT_TRUE(window.isNull()); // released once the close was over
}

TEST_F(ApplicationShell, TheCloseButtonClearsOnlyItsOwnPropertyAndReleasesTheControllerLater)
{
    application.openStoriesWindow(nullptr);
    application.openPreferencesWindow(nullptr);
    QPointer<WindowController> stories = application.storiesWindowController().get();
    const auto preferences = application.preferencesWindowController();

    stories->window()->close(); // what the window manager's close button does
    EXPECT_FALSE(application.storiesWindowController());
    EXPECT_EQ(application.preferencesWindowController(), preferences);
    EXPECT_FALSE(stories.isNull()); // not in the middle of its own close
    flushDeferredDeletes();
    EXPECT_TRUE(stories.isNull());

    application.openStoriesWindow(nullptr);
    ASSERT_TRUE(application.storiesWindowController());
    EXPECT_TRUE(application.storiesWindowController()->window()->isVisible());
}

TEST_F(ApplicationShell, ClosingSomethingElseChangesNothing)
{
    application.openStoriesWindow(nullptr);
    application.openSourcesWindow(nullptr);
    const auto stories = application.storiesWindowController();
    const auto sources = application.sourcesWindowController();

    int notAWindow = 0;
    NotificationCenter::defaultCenter().post(windowWillCloseNotification, &notAWindow);
    NotificationCenter::defaultCenter().post(windowWillCloseNotification, nullptr);
    Window panel(QRect(0, 0, 200, 100), TopLevelWindow::Titled);
    panel.show();
    panel.close();
    EXPECT_EQ(application.storiesWindowController(), stories);
    EXPECT_EQ(application.sourcesWindowController(), sources);
}

TEST_F(ApplicationShell, LaunchShowsTheSourcesWindowStartsTheUpdatesAndKeepsTheLaunchController)
{
    SourcesTesting::VirtualTime time;
    application.finishLaunching();
    const std::shared_ptr<WindowController> launched = delegate.windowController();
    ASSERT_TRUE(launched);
    EXPECT_EQ(application.sourcesWindowController(), launched); // it registered itself
    EXPECT_TRUE(launched->window()->isVisible());
    EXPECT_TRUE(launched->window()->menuBar());
    EXPECT_EQ(updates, (QStringList { u"source names"_s, u"top feeds"_s }));
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());

    QDir screenshots(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    screenshots.mkpath(u"."_s);
    // The installation help's steps pop in over the first two seconds: shown once they have.
    time.advance(2.5);
    EXPECT_TRUE(launched->window()->grab().save(screenshots.filePath(u"app-launch.png"_s)));

    launched->window()->close();
    EXPECT_FALSE(application.sourcesWindowController());
    EXPECT_EQ(delegate.windowController(), launched);
    application.openSourcesWindow(nullptr);
    ASSERT_TRUE(application.sourcesWindowController());
    EXPECT_NE(application.sourcesWindowController(), launched);
    EXPECT_FALSE(launched->window()->isVisible());
}

TEST_F(ApplicationShell, AStoryboardWithoutAWindowControllerOpensNothing)
{
    Storyboard::registerStoryboard(u"Sources"_s, [](const Storyboard&) {
        return std::shared_ptr<QObject>(makeController<ViewController>());
    });
    Storyboard::unregisterStoryboard(u"Stories"_s);

    application.finishLaunching();
    EXPECT_FALSE(delegate.windowController());
    EXPECT_EQ(updates, (QStringList { u"source names"_s, u"top feeds"_s })); // they start anyway
    application.openSourcesWindow(nullptr);
    application.openStoriesWindow(nullptr);
    EXPECT_FALSE(application.sourcesWindowController());
    EXPECT_FALSE(application.storiesWindowController());
    const QWidgetList shown = QApplication::topLevelWidgets();
    EXPECT_TRUE(
        std::none_of(shown.cbegin(), shown.cend(), [](QWidget* w) { return w->isVisible(); }));
}

TEST_F(ApplicationShell, TheMenuShortcutsReachTheApplicationObject)
{
    application.finishLaunching();
    TopLevelWindow* sources = delegate.windowController()->window();
    sources->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sources, TestSupport::waitBoundMs));

    QTest::keyClick(sources, Qt::Key_1, Qt::ControlModifier);
    ASSERT_TRUE(application.storiesWindowController());
    QTest::keyClick(sources, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(application.preferencesWindowController());

    TopLevelWindow* preferences = application.preferencesWindowController()->window();
    preferences->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(preferences, TestSupport::waitBoundMs));
    QTest::keyClick(preferences, Qt::Key_W, Qt::ControlModifier); // close this window
    EXPECT_FALSE(application.preferencesWindowController());
    EXPECT_TRUE(application.storiesWindowController());

    QStringList items;
    for (QAction* menu : sources->menuBar()->actions())
        for (QAction* item : menu->menu()->actions())
            if (!item->isSeparator())
                items << item->text();
    EXPECT_EQ(items.size(), 7) << items.join(u", "_s).toStdString();
    EXPECT_TRUE(items.contains(u"&Stories"_s)) << "menu texts come from the localisation table";
}

TEST_F(ApplicationShell, ClosingAMenuGivesTheKeyboardBackToTheSearchField)
{
    application.finishLaunching();
    TopLevelWindow* sources = delegate.windowController()->window();
    sources->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sources, TestSupport::waitBoundMs));
    auto* field = sources->findChild<QLineEdit*>();
    ASSERT_TRUE(field);
    field->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(field->hasFocus());

    // Alt+W opens the Window menu, Esc closes it, and what is typed next lands in the field;
    // so too after moving on to the next menu with the arrow key.
    for (const QList<Qt::Key>& inMenu :
        { QList<Qt::Key> { Qt::Key_Escape }, QList<Qt::Key> { Qt::Key_Right, Qt::Key_Escape } }) {
        field->clear();
        QTest::keyClick(sources, Qt::Key_W, Qt::AltModifier);
        ASSERT_TRUE(
            TestSupport::waitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        for (Qt::Key key : inMenu)
            QTest::keyClick(QApplication::activePopupWidget(), key);
        ASSERT_TRUE(TestSupport::waitFor([] { return !QApplication::activePopupWidget(); }));
        TestSupport::processEvents();
        // The offscreen platform may leave the closed menu active, where a window manager hands
        // the keyboard back to the window: the window's own focus is what counts.
        sources->activateWindow();
        ASSERT_TRUE(TestSupport::waitFor([&] { return QApplication::activeWindow() == sources; }));
        ASSERT_TRUE(QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget(), field)
            << "the keyboard is at " << QApplication::focusWidget()->metaObject()->className();
        QTest::keyClicks(QApplication::focusWidget(), u"bbc"_s);
        EXPECT_EQ(field->text(), u"bbc"_s);
    }
}

TEST(WindowFlags, TheContentRectInitialiserAddsAFullSizeContentViewAndHidesTheTitle)
{
    const unsigned given
        = TopLevelWindow::Titled | TopLevelWindow::Closable | TopLevelWindow::Miniaturizable;
    Window made(QRect(10, 20, 300, 200), given);
    EXPECT_EQ(made.styleMask(), given | 0x8000u);
    EXPECT_EQ(made.titleVisibility(), TopLevelWindow::TitleVisibility::Hidden);
    EXPECT_TRUE(made.titlebarAppearsTransparent());
    EXPECT_EQ(made.size(), QSize(300, 200));
    // What the window manager can honour is passed on; no maximise button without resizing.
    EXPECT_TRUE(made.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(made.windowFlags() & Qt::WindowMaximizeButtonHint);

    TopLevelWindow::Settings saved;
    saved.styleMask = TopLevelWindow::Titled | TopLevelWindow::Resizable;
    saved.title = u"Saved"_s;
    Window restored(saved);
    EXPECT_EQ(restored.styleMask(), saved.styleMask);
    EXPECT_EQ(restored.titleVisibility(), TopLevelWindow::TitleVisibility::Visible);
    EXPECT_FALSE(restored.titlebarAppearsTransparent());
    EXPECT_EQ(restored.windowTitle(), u"Saved"_s);
}

// Runs the real event loop: the program ends when its only window closes.
TEST_F(ApplicationShell, ClosingTheLastWindowQuitsTheProgram)
{
    bool terminated = false;
    bool timedOut = false;
    QObject::connect(
        qApp, &QCoreApplication::aboutToQuit, &application, [&] { terminated = true; });
    // Once launching has finished (queued after this), the user closes the launch window.
    QTimer::singleShot(0, &application, [&] {
        QTimer::singleShot(0, &application, [&] {
            ASSERT_TRUE(delegate.windowController());
            delegate.windowController()->window()->close();
        });
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(10000);
    application.run();
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(terminated);
}

#include "platform/appkit/Controllers.h"
#include "platform/appkit/Sound.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QCloseEvent>
#include <QEvent>
#include <QLabel>

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList journal;

class JournalViewController : public ViewController {
public:
    void viewWillAppear() override { journal << u"viewWillAppear"_s; }

protected:
    void loadView() override
    {
        journal << u"loadView"_s;
        setView(new QLabel(u"content"_s));
    }
    void viewDidLoad() override { journal << u"viewDidLoad"_s; }
};

class JournalWindowController : public WindowController {
public:
    using WindowController::WindowController;

protected:
    void windowDidLoad() override { journal << u"windowDidLoad"_s; }
};

class StubbornWindow : public TopLevelWindow {
public:
    StubbornWindow()
        : TopLevelWindow(Settings {})
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace

TEST(Controllers, RunTheLifeCycleInOrderAndOnlyOnce)
{
    journal.clear();
    TopLevelWindow::Settings settings;
    settings.frame = QRect(0, 0, 300, 200);
    auto controller = makeController<JournalWindowController>(new TopLevelWindow(settings));
    controller->setContentViewController(std::make_unique<JournalViewController>());
    EXPECT_EQ(journal, (QStringList { u"loadView"_s, u"viewDidLoad"_s }));
    EXPECT_FALSE(controller->isWindowLoaded());

    controller->showWindow(nullptr);
    controller->showWindow(nullptr); // already on screen: no second appearance
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(controller->window()->contentView(), controller->contentViewController()->view());
    controller->close();
    EXPECT_FALSE(controller->window()->isVisible());
    controller->showWindow(nullptr);
    EXPECT_EQ(journal,
        (QStringList { u"loadView"_s, u"viewDidLoad"_s, u"windowDidLoad"_s, u"viewWillAppear"_s,
            u"viewWillAppear"_s }));
    controller->close();
}

TEST(Controllers, ClosingPostsWillCloseWithTheWindowOnlyWhenTheCloseIsAccepted)
{
    QList<const void*> closed;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        windowWillCloseNotification, nullptr, [&](const Notification& n) { closed << n.object; });

    TopLevelWindow window({});
    window.show();
    window.close();
    EXPECT_EQ(closed, (QList<const void*> { window.notificationObject() }));

    StubbornWindow stubborn;
    stubborn.show();
    stubborn.close();
    EXPECT_TRUE(stubborn.isVisible());
    EXPECT_EQ(closed.size(), 1);
}

TEST(Controllers, AControllerLetGoInsideItsOwnCloseIsReleasedLater)
{
    auto holder = makeController<WindowController>(new TopLevelWindow({}));
    QPointer<WindowController> watched = holder.get();
    QPointer<TopLevelWindow> window = holder->window();
    window->show();
    bool aliveAfterRelease = false;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        windowWillCloseNotification, nullptr, [&](const Notification&) {
            holder.reset(); // the last strong reference, from inside the close
            aliveAfterRelease = !watched.isNull() && !window.isNull();
        });
    watched->close();
    EXPECT_TRUE(aliveAfterRelease);
    EXPECT_FALSE(watched.isNull());
    flushDeferredDeletes();
    EXPECT_TRUE(watched.isNull());
    EXPECT_TRUE(window.isNull()); // the window goes with its controller
}

TEST(Storyboard, BuildsANewControllerPerCallAndNothingForUnknownNames)
{
    Storyboard::registerStoryboard(u"Test"_s, [](const Storyboard&) {
        auto controller = makeController<WindowController>(new TopLevelWindow({}));
        controller->setContentViewController(std::make_unique<ViewController>());
        return std::shared_ptr<QObject>(controller);
    });
    Storyboard::registerScene(u"Test"_s, u"Panel"_s, [](const Storyboard&) {
        return std::shared_ptr<QObject>(makeController<ViewController>());
    });
    Storyboard::registerStoryboard(u"Broken"_s, [](const Storyboard&) { return nullptr; });

    EXPECT_FALSE(Storyboard::named(u"Nowhere"_s));
    const auto storyboard = Storyboard::named(u"Test"_s);
    ASSERT_TRUE(storyboard);
    const auto first = controllerCast<WindowController>(storyboard->instantiateInitialController());
    const auto second
        = controllerCast<WindowController>(storyboard->instantiateInitialController());
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->storyboard()->name(), u"Test"_s);
    EXPECT_EQ(first->contentViewController()->storyboard()->name(), u"Test"_s);

    const auto panel = storyboard->instantiateController(u"Panel"_s);
    EXPECT_TRUE(controllerCast<ViewController>(panel));
    EXPECT_FALSE(controllerCast<WindowController>(panel)); // of another class: none
    EXPECT_FALSE(storyboard->instantiateController(u"Missing"_s));
    EXPECT_FALSE(Storyboard::named(u"Broken"_s)->instantiateInitialController());

    Storyboard::unregisterStoryboard(u"Test"_s);
    Storyboard::unregisterStoryboard(u"Broken"_s);
    EXPECT_FALSE(Storyboard::named(u"Test"_s));
    EXPECT_FALSE(first->storyboard()); // its storyboard is gone
}

TEST(Sound, UnknownSoundsAreNotPlayed)
{
    QStringList played;
    const SoundPlayer previous = setSoundPlayer([&](const QString& name) { played << name; });
    EXPECT_FALSE(playSound(u"No such sound.wav"_s));
    EXPECT_FALSE(playSound(QString()));
    EXPECT_TRUE(played.isEmpty());
    setSoundPlayer(previous);
}

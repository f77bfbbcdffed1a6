#include "Storyboards.h"

#include "app/shell/MainMenu.h"
#include "app/shell/PreferencesStoryboard.h"
#include "app/shell/StoriesStoryboard.h"
#include "app/shell/Window.h"
#include "app/sources/SourcesWindowScene.h"
#include "data/sync/Localization.h"
#include "platform/appkit/Controllers.h"
#include "platform/appkit/Storyboard.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr unsigned kStandardWindow = TopLevelWindow::Titled | TopLevelWindow::Closable
    | TopLevelWindow::Miniaturizable | TopLevelWindow::Resizable;

Window* makeWindow(const QSize& size, unsigned styleMask, const QString& titleKey)
{
    auto* window = new Window(QRect(QPoint(0, 0), size), styleMask);
    window->setWindowTitle(~titleKey);
    installMainMenu(window);
    return window;
}

template <class Controller> std::shared_ptr<QObject> windowScene(Window* window)
{
    auto controller = makeController<Controller>(window);
    controller->setContentViewController(std::make_unique<ViewController>());
    return controller;
}

} // namespace

void registerApplicationStoryboards()
{
    registerSourcesStoryboard(u"Sources"_s, [] {
        Window* window = makeWindow(QSize(600, 680), kStandardWindow, u"Sources window title"_s);
        // Room for the popular-feeds panel under the search field.
        window->setMinimumSize(540, 420);
        return window;
    });
    Storyboard::registerStoryboard(u"Stories"_s, [](const Storyboard&) {
        Window* window = makeWindow(QSize(380, 620), kStandardWindow, u"Stories window title"_s);
        window->setMinimumSize(300, 300);
        return storiesScene(window);
    });
    Storyboard::registerStoryboard(u"Preferences"_s, [](const Storyboard&) {
        Window* window = makeWindow(
            QSize(480, 560), kStandardWindow & ~TopLevelWindow::Resizable, u"Preferences title"_s);
        return preferencesScene(window);
    });
}

} // namespace Tickerly::App

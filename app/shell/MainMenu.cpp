#include "MainMenu.h"

#include "app/shell/Application.h"
#include "data/sync/Localization.h"
#include "platform/appkit/TopLevelWindow.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

#include <memory>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

using ApplicationAction = void (Application::*)(QObject*);

QAction* addApplicationItem(
    QMenu* menu, const QString& key, const QKeySequence& shortcut, ApplicationAction action)
{
    QAction* item = menu->addAction(~key);
    item->setShortcut(shortcut);
    QObject::connect(item, &QAction::triggered, item, [item, action] {
        if (Application* application = Application::shared())
            (application->*action)(item);
    });
    return item;
}

// Closing a menu gives the keyboard back to where it was: a menu opened with its Alt key leaves
// the menu bar holding the focus, where typing goes nowhere. One place per bar, since moving
// from menu to menu with the arrow keys passes through the bar.
void returnFocusWhenClosed(QMenuBar* bar, const QList<QMenu*>& menus)
{
    auto returnTo = std::make_shared<QPointer<QWidget>>();
    for (QMenu* menu : menus) {
        QObject::connect(menu, &QMenu::aboutToShow, bar, [bar, returnTo] {
            QWidget* focus = QApplication::focusWidget();
            if (focus && focus != bar && focus->window() == bar->window())
                *returnTo = focus;
        });
        QObject::connect(menu, &QMenu::aboutToHide, bar, [bar, returnTo] {
            // Once the menu is gone and no other one of the bar has opened in its place.
            QMetaObject::invokeMethod(
                bar,
                [bar, returnTo] {
                    if (QApplication::activePopupWidget())
                        return;
                    QWidget* focus = QApplication::focusWidget();
                    if (*returnTo && (!focus || focus == bar))
                        (*returnTo)->setFocus(Qt::MenuBarFocusReason);
                    *returnTo = nullptr;
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace

void installMainMenu(TopLevelWindow* window)
{
    auto* bar = new QMenuBar;

    QMenu* application = bar->addMenu(~u"Application menu"_s);
    addApplicationItem(application, u"Preferences menu item"_s, QKeySequence(u"Ctrl+,"_s),
        &Application::openPreferencesWindow)
        ->setMenuRole(QAction::PreferencesRole);
    application->addSeparator();
    QAction* quit = application->addAction(~u"Quit menu item"_s);
    quit->setShortcut(QKeySequence(u"Ctrl+Q"_s));
    quit->setMenuRole(QAction::QuitRole);
    // Closing every window ends the program the same way the last close does.
    QObject::connect(quit, &QAction::triggered, quit, [] { QApplication::closeAllWindows(); });

    QMenu* windows = bar->addMenu(~u"Window menu"_s);
    addApplicationItem(windows, u"Stories menu item"_s, QKeySequence(u"Ctrl+1"_s),
        &Application::openStoriesWindow);
    addApplicationItem(windows, u"Sources menu item"_s, QKeySequence(u"Ctrl+2"_s),
        &Application::openSourcesWindow);
    windows->addSeparator();
    addApplicationItem(
        windows, u"Refresh menu item"_s, QKeySequence(u"Ctrl+R"_s), &Application::refreshStories);
    windows->addSeparator();
    QAction* close = windows->addAction(~u"Close window menu item"_s);
    close->setShortcut(QKeySequence(u"Ctrl+W"_s));
    QObject::connect(close, &QAction::triggered, window, &QWidget::close);

    QMenu* help = bar->addMenu(~u"Help menu"_s);
    addApplicationItem(
        help, u"Installation help menu item"_s, QKeySequence(u"F1"_s), &Application::installHelp);

    returnFocusWhenClosed(bar, { application, windows, help });
    window->setMenuBar(bar);
}

} // namespace Tickerly::App

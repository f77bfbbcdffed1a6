#pragma once

#include "app/Namespace.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace Tickerly::AppKit {
class WindowController;
} // namespace Tickerly::AppKit

namespace Tickerly::Foundation {
struct Notification;
} // namespace Tickerly::Foundation

namespace Tickerly::App {

class AppDelegate;

// The program's application object: it opens and closes the stories, sources and preferences
// windows as toggles and forgets a window's controller when that window closes. One lives for
// the whole run of the program, made before any window.
class Application : public QObject {
    Q_OBJECT
public:
    explicit Application(QObject* parent = nullptr);
    ~Application() override;

    // The program's application object; null when there is none (or it is being destroyed).
    static Application* shared();

    // Each set exactly while its window is open.
    const std::shared_ptr<AppKit::WindowController>& storiesWindowController() const
    {
        return m_stories;
    }
    void setStoriesWindowController(std::shared_ptr<AppKit::WindowController> controller);
    const std::shared_ptr<AppKit::WindowController>& sourcesWindowController() const
    {
        return m_sources;
    }
    void setSourcesWindowController(std::shared_ptr<AppKit::WindowController> controller);
    const std::shared_ptr<AppKit::WindowController>& preferencesWindowController() const
    {
        return m_preferences;
    }
    void setPreferencesWindowController(std::shared_ptr<AppKit::WindowController> controller);

    AppDelegate* delegate() const { return m_delegate; }
    void setDelegate(AppDelegate* delegate) { m_delegate = delegate; }

    // Tells the delegate that launching has finished and applies its answers.
    void finishLaunching();
    // Runs the program: finishes launching from the event loop, then runs it until the end.
    int run();

public Q_SLOTS:
    // Toggles: an open window is closed, a closed one is opened with a new controller.
    void openStoriesWindow(QObject* sender = nullptr);
    void openSourcesWindow(QObject* sender = nullptr);
    void openPreferencesWindow(QObject* sender = nullptr);
    // The help and refresh actions of the menu.
    void installHelp(QObject* sender = nullptr);
    void refreshStories(QObject* sender = nullptr);

private:
    void setup();
    void windowWillClose(const Foundation::Notification& notification);
    void toggle(std::shared_ptr<AppKit::WindowController>& property, const QString& storyboardName);

    std::shared_ptr<AppKit::WindowController> m_stories;
    std::shared_ptr<AppKit::WindowController> m_sources;
    std::shared_ptr<AppKit::WindowController> m_preferences;
    AppDelegate* m_delegate = nullptr; // not owned
};

} // namespace Tickerly::App

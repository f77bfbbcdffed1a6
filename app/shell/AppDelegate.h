#pragma once

#include "app/Namespace.h"

#include <QObject>

#include <memory>

namespace Tickerly::AppKit {
class WindowController;
} // namespace Tickerly::AppKit

namespace Tickerly::App {

// Opens the sources window when the program has launched and starts the launch-time updates.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // The sources window opened at launch; never cleared.
    const std::shared_ptr<AppKit::WindowController>& windowController() const
    {
        return m_windowController;
    }
    void setWindowController(std::shared_ptr<AppKit::WindowController> controller);

    void applicationDidFinishLaunching();
    void applicationWillTerminate() { }
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

private:
    std::shared_ptr<AppKit::WindowController> m_windowController;
};

} // namespace Tickerly::App

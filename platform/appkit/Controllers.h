#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace Tickerly::AppKit {

class Storyboard;
class TopLevelWindow;

// Controllers are shared by whoever holds them (the application object, its delegate). The last
// holder often lets go from inside the controller's own close path, so the object is released
// later, from the event loop, never in the middle of that path.
template <class T, class... Args> std::shared_ptr<T> makeController(Args&&... args)
{
    return std::shared_ptr<T>(new T(std::forward<Args>(args)...), [](T* controller) {
        if (QCoreApplication::instance())
            controller->deleteLater();
        else
            delete controller;
    });
}

// The same controller as a `T`, sharing ownership; null when it is none or of another class.
template <class T> std::shared_ptr<T> controllerCast(const std::shared_ptr<QObject>& object)
{
    T* cast = qobject_cast<T*>(object.get());
    return cast ? std::shared_ptr<T>(object, cast) : std::shared_ptr<T>();
}

// Owns a view, made on first use (from the interface registered under the controller's
// interface name, or in code by a subclass), and looks after it as it comes and goes.
class TICKERLYAPPKIT_EXPORT ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(QObject* parent = nullptr);
    explicit ViewController(std::optional<QString> nibName, QObject* parent = nullptr);
    ~ViewController() override;

    // An interface file: makes a controller's view, connecting the controller where it needs.
    using Interface = std::function<QWidget*(ViewController* owner)>;
    static void registerInterface(const QString& name, Interface interface);
    static bool hasInterface(const QString& name);
    const std::optional<QString>& nibName() const { return m_nibName; }

    // The view, loaded on first use (loadView, then viewDidLoad once).
    QWidget* view();
    // Installs a view made elsewhere (a storyboard); the controller owns it until a window does.
    void setView(QWidget* view);
    bool isViewLoaded() const { return !m_view.isNull(); }

    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

    // The storyboard this controller was made from, if any.
    const std::optional<QString>& storyboardName() const { return m_storyboardName; }
    std::optional<Storyboard> storyboard() const;
    void setStoryboardName(const QString& name) { m_storyboardName = name; }

    // Before each appearance of the view on screen.
    virtual void viewWillAppear() { }

protected:
    // Makes the view when none was installed: the registered interface of the interface name,
    // else a plain, empty widget.
    virtual void loadView();
    virtual void viewDidLoad() { }

private:
    std::optional<QString> m_nibName;
    QPointer<QWidget> m_view;
    bool m_loading = false;
    bool m_viewDidLoadSent = false;
    QString m_title;
    std::optional<QString> m_storyboardName;
};

// Owns a window and its content view controller; shows and closes the window.
class TICKERLYAPPKIT_EXPORT WindowController
    : public QObject,
      public std::enable_shared_from_this<WindowController> {
    Q_OBJECT
public:
    // Takes ownership of `window` (may be null, set later).
    explicit WindowController(TopLevelWindow* window = nullptr, QObject* parent = nullptr);
    ~WindowController() override;

    // The window; on the first call with a window present, windowDidLoad runs once.
    TopLevelWindow* window();
    void setWindow(TopLevelWindow* window);
    // The window as it is, without running windowDidLoad (for use while the controller is made).
    TopLevelWindow* existingWindow() const;
    bool isWindowLoaded() const { return m_windowDidLoadSent; }

    ViewController* contentViewController() const { return m_contentViewController.get(); }
    // Takes ownership; its view becomes the window's content view.
    void setContentViewController(std::unique_ptr<ViewController> controller);

    const std::optional<QString>& storyboardName() const { return m_storyboardName; }
    std::optional<Storyboard> storyboard() const;
    void setStoryboardName(const QString& name) { m_storyboardName = name; }

    // Brings the window on screen, in front and active. `sender` is not read.
    void showWindow(QObject* sender);
    // Closes the window as its close button would (it posts the will-close notification).
    void close();

protected:
    virtual void windowDidLoad() { }

private:
    void installContentView();

    QPointer<TopLevelWindow> m_window;
    bool m_windowDidLoadSent = false;
    std::unique_ptr<ViewController> m_contentViewController;
    std::optional<QString> m_storyboardName;
};

} // namespace Tickerly::AppKit

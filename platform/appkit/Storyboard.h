#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::AppKit {

// A named set of scenes, each built in code: the builder makes the window or view, its
// controllers and their outlets, and hands back the scene's controller (made with
// makeController). Storyboards are registered by name on the main thread before use.
class TICKERLYAPPKIT_EXPORT Storyboard {
public:
    using Builder = std::function<std::shared_ptr<QObject>(const Storyboard&)>;

    // Registers (or replaces) the storyboard `name` with its initial scene.
    static void registerStoryboard(const QString& name, Builder initialScene);
    // Adds (or replaces) a scene found by identifier; the storyboard must be registered.
    static void registerScene(const QString& name, const QString& identifier, Builder scene);
    static void unregisterStoryboard(const QString& name);

    // The storyboard registered as `name`; none for an unknown name.
    static std::optional<Storyboard> named(const QString& name);

    const QString& name() const { return m_name; }

    // A new controller of the initial scene each time; null when the scene built none.
    std::shared_ptr<QObject> instantiateInitialController() const;
    // A new controller of the scene `identifier`; null when there is no such scene.
    std::shared_ptr<QObject> instantiateController(const QString& identifier) const;

private:
    explicit Storyboard(const QString& name)
        : m_name(name)
    {
    }
    std::shared_ptr<QObject> build(const Builder& builder) const;

    QString m_name;
};

} // namespace Tickerly::AppKit

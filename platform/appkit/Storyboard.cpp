#include "platform/appkit/Namespace.h"
#include "Storyboard.h"

#include "Controllers.h"

#include <QHash>

namespace Tickerly::AppKit {

namespace {

struct Entry {
    Storyboard::Builder initial;
    QHash<QString, Storyboard::Builder> scenes;
};

QHash<QString, Entry>& registry()
{
    static QHash<QString, Entry> storyboards;
    return storyboards;
}

} // namespace

void Storyboard::registerStoryboard(const QString& name, Builder initialScene)
{
    registry()[name].initial = std::move(initialScene);
}

void Storyboard::registerScene(const QString& name, const QString& identifier, Builder scene)
{
    auto it = registry().find(name);
    if (it != registry().end())
        it->scenes.insert(identifier, std::move(scene));
}

void Storyboard::unregisterStoryboard(const QString& name) { registry().remove(name); }

std::optional<Storyboard> Storyboard::named(const QString& name)
{
    if (!registry().contains(name))
        return std::nullopt;
    return Storyboard(name);
}

std::shared_ptr<QObject> Storyboard::instantiateInitialController() const
{
    const auto it = registry().constFind(m_name);
    return it == registry().cend() ? nullptr : build(it->initial);
}

std::shared_ptr<QObject> Storyboard::instantiateController(const QString& identifier) const
{
    const auto it = registry().constFind(m_name);
    if (it == registry().cend())
        return nullptr;
    const auto scene = it->scenes.constFind(identifier);
    return scene == it->scenes.cend() ? nullptr : build(*scene);
}

std::shared_ptr<QObject> Storyboard::build(const Builder& builder) const
{
    if (!builder)
        return nullptr;
    std::shared_ptr<QObject> controller = builder(*this);
    // Every controller knows where it came from, so it can find the storyboard's other scenes.
    if (auto* windowController = qobject_cast<WindowController*>(controller.get())) {
        windowController->setStoryboardName(m_name);
        if (ViewController* content = windowController->contentViewController())
            content->setStoryboardName(m_name);
    } else if (auto* viewController = qobject_cast<ViewController*>(controller.get())) {
        viewController->setStoryboardName(m_name);
    }
    return controller;
}

} // namespace Tickerly::AppKit

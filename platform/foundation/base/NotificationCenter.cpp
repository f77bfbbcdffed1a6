#include "platform/foundation/base/NotificationCenter.h"

#include <QPointer>

#include <atomic>
#include <mutex>
#include <vector>

namespace Tickerly::Foundation {

struct ObserverToken::Entry {
    std::weak_ptr<NotificationCenter::State> center;
    QString name;
    const void* object = nullptr;
    NotificationCenter::Handler handler;
    std::atomic<bool> alive { true };
    // Set for observers tied to a QObject's life.
    QPointer<QObject> owner;
    bool hasOwner = false;
};

struct NotificationCenter::State {
    std::mutex mutex;
    std::vector<std::shared_ptr<ObserverToken::Entry>> observers;

    void remove(const ObserverToken::Entry* entry)
    {
        std::lock_guard lock(mutex);
        std::erase_if(observers, [entry](const auto& e) { return e.get() == entry; });
    }
};

ObserverToken::ObserverToken(std::shared_ptr<Entry> entry)
    : m_entry(std::move(entry))
{
}

ObserverToken::~ObserverToken() { reset(); }

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_entry(std::move(other.m_entry))
{
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        m_entry = std::move(other.m_entry);
    }
    return *this;
}

void ObserverToken::reset()
{
    if (!m_entry)
        return;
    m_entry->alive = false;
    if (auto center = m_entry->center.lock())
        center->remove(m_entry.get());
    m_entry.reset();
}

NotificationCenter::NotificationCenter()
    : d(std::make_shared<State>())
{
}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(
    const QString& name, const void* object, Handler handler)
{
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->center = d;
    entry->name = name;
    entry->object = object;
    entry->handler = std::move(handler);
    std::lock_guard lock(d->mutex);
    d->observers.push_back(entry);
    return ObserverToken(entry);
}

void NotificationCenter::addObserver(
    QObject* owner, const QString& name, const void* object, Handler handler)
{
    if (!owner)
        return;
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->center = d;
    entry->name = name;
    entry->object = object;
    entry->handler = std::move(handler);
    entry->owner = owner;
    entry->hasOwner = true;
    {
        std::lock_guard lock(d->mutex);
        d->observers.push_back(entry);
    }
    // destroyed() is emitted at the start of the owner's destruction, on the owner's thread.
    QObject::connect(owner, &QObject::destroyed,
        [weakCenter = std::weak_ptr<State>(d), raw = entry.get(),
            weakEntry = std::weak_ptr<ObserverToken::Entry>(entry)] {
            if (auto e = weakEntry.lock())
                e->alive = false;
            if (auto center = weakCenter.lock())
                center->remove(raw);
        });
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<std::shared_ptr<ObserverToken::Entry>> targets;
    {
        std::lock_guard lock(d->mutex);
        for (const auto& e : d->observers) {
            if (e->name == notification.name && (!e->object || e->object == notification.object))
                targets.push_back(e);
        }
    }
    for (const auto& e : targets) {
        if (!e->alive)
            continue;
        if (e->hasOwner && !e->owner)
            continue;
        e->handler(notification);
    }
}

void NotificationCenter::post(const QString& name, const void* object, const QVariantMap& userInfo)
{
    post(Notification { name, object, userInfo });
}

} // namespace Tickerly::Foundation

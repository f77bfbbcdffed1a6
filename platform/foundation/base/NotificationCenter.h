#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace Tickerly::Foundation {

// A notification: a name, the object that posted it (an identity, never dereferenced here)
// and a dictionary of extra information.
struct Notification {
    QString name;
    const void* object = nullptr;
    QVariantMap userInfo;
};

// Removes its observer when destroyed or reset. Move-only; owners keep it as a member so the
// observer goes with them.
class TICKERLYFOUNDATION_EXPORT ObserverToken {
public:
    ObserverToken() = default;
    ~ObserverToken();
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;

    void reset();
    bool isActive() const { return static_cast<bool>(m_entry); }

private:
    friend class NotificationCenter;
    struct Entry;
    explicit ObserverToken(std::shared_ptr<Entry> entry);
    std::shared_ptr<Entry> m_entry;
};

// The in-process notification centre.
//
// Posting delivers synchronously on the posting thread to every observer registered for the
// name whose object filter is null or equal to the posted object, in order of registration.
// Thread-safe; an observer removed (even during a post, from any thread) is not called again
// once its removal has returned, except for a call already running at that moment.
class TICKERLYFOUNDATION_EXPORT NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process's centre. It lives in this library only, so every library shares it.
    static NotificationCenter& defaultCenter();

    // Observes `name` (from `object` only, when not null); removed when the token goes.
    [[nodiscard]] ObserverToken addObserver(
        const QString& name, const void* object, Handler handler);

    // Observes `name` as long as `owner` lives; the handler is never called after `owner`
    // has begun its destruction.
    void addObserver(QObject* owner, const QString& name, const void* object, Handler handler);

    void post(const Notification& notification);
    void post(const QString& name, const void* object = nullptr, const QVariantMap& userInfo = {});

private:
    friend class ObserverToken;
    struct State;
    std::shared_ptr<State> d;
};

} // namespace Tickerly::Foundation

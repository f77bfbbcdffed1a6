#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::AppKit {

// A way to pass things on to someone: mail them, or post them on a web service's share page.
// It has a title and a picture for menus and performs with a list of items (texts, images and
// QUrl values). Main thread only.
class TICKERLYAPPKIT_EXPORT SharingService {
public:
    using Perform = std::function<void(const QVariantList& items)>;
    // Whether the service can take `items`.
    using Accepts = std::function<bool(const QVariantList& items)>;

    SharingService(QString title, QImage image, Accepts accepts, Perform perform);

    const QString& title() const { return m_title; }
    const QImage& image() const { return m_image; }
    bool canPerformWithItems(const QVariantList& items) const;
    void performWithItems(const QVariantList& items) const;

    // The services that can take `items`, in the order they were registered; nothing when no
    // list can be given (only a test's provider answers so).
    static std::optional<QList<std::shared_ptr<const SharingService>>> sharingServicesForItems(
        const QVariantList& items);

    // Adds a service to every later answer.
    static void registerService(std::shared_ptr<const SharingService> service);
    static bool isRegistered(const QString& title);
    using Provider = std::function<std::optional<QList<std::shared_ptr<const SharingService>>>(
        const QVariantList&)>;
    // Answers in place of the registered services until reset with an empty provider (tests).
    static void setProvider(Provider provider);

    // Composes a mail in the user's mail program through a "mailto:" address: the first text
    // is the subject, every text and address one line of the body. Takes any items that hold
    // a text or an address.
    static std::shared_ptr<const SharingService> mailService(const QImage& image);

private:
    QString m_title;
    QImage m_image;
    Accepts m_accepts;
    Perform m_perform;
};

// A menu item's text for `text`: "&" stands for itself, not for a keyboard shortcut.
TICKERLYAPPKIT_EXPORT QString menuItemText(const QString& text);

} // namespace Tickerly::AppKit

// A service as a menu item's represented object.
Q_DECLARE_METATYPE(std::shared_ptr<const Tickerly::AppKit::SharingService>)

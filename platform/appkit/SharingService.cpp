#include "platform/appkit/SharingService.h"

#include "platform/appkit/Workspace.h"
#include "platform/foundation/base/Url.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace Tickerly::AppKit {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

namespace {

QList<std::shared_ptr<const SharingService>>& registered()
{
    static QList<std::shared_ptr<const SharingService>> services;
    return services;
}

SharingService::Provider& provider()
{
    static SharingService::Provider p;
    return p;
}

} // namespace

SharingService::SharingService(QString title, QImage image, Accepts accepts, Perform perform)
    : m_title(std::move(title))
    , m_image(std::move(image))
    , m_accepts(std::move(accepts))
    , m_perform(std::move(perform))
{
}

bool SharingService::canPerformWithItems(const QVariantList& items) const
{
    return !m_accepts || m_accepts(items);
}

void SharingService::performWithItems(const QVariantList& items) const
{
    if (m_perform && canPerformWithItems(items))
        m_perform(items);
}

std::optional<QList<std::shared_ptr<const SharingService>>> SharingService::sharingServicesForItems(
    const QVariantList& items)
{
    if (provider())
        return provider()(items);
    QList<std::shared_ptr<const SharingService>> services;
    for (const auto& service : std::as_const(registered())) {
        if (service->canPerformWithItems(items))
            services.append(service);
    }
    return services;
}

void SharingService::registerService(std::shared_ptr<const SharingService> service)
{
    registered().append(std::move(service));
}

bool SharingService::isRegistered(const QString& title)
{
    return std::any_of(registered().cbegin(), registered().cend(),
        [&](const auto& service) { return service->title() == title; });
}

void SharingService::setProvider(Provider p) { provider() = std::move(p); }

std::shared_ptr<const SharingService> SharingService::mailService(const QImage& image)
{
    auto lines = [](const QVariantList& items) {
        QStringList out;
        for (const QVariant& item : items) {
            if (item.metaType() == QMetaType::fromType<QString>())
                out.append(item.toString());
            else if (item.metaType() == QMetaType::fromType<QUrl>())
                out.append(item.toUrl().toString(QUrl::FullyEncoded));
        }
        return out;
    };
    return std::make_shared<SharingService>(
        u"Email"_s, image, [lines](const QVariantList& items) { return !lines(items).isEmpty(); },
        [lines](const QVariantList& items) {
            QString subject;
            for (const QVariant& item : items) {
                if (item.metaType() == QMetaType::fromType<QString>()) {
                    subject = item.toString();
                    break;
                }
            }
            const QString address = u"mailto:?subject="_s + Url::percentEncoded(subject)
                + u"&body="_s + Url::percentEncoded(lines(items).join(u'\n'));
            if (const auto url = Url::fromString(address))
                Workspace::sharedWorkspace().openURL(*url);
        });
}

QString menuItemText(const QString& text) { return QString(text).replace(u'&', u"&&"_s); }

} // namespace Tickerly::AppKit

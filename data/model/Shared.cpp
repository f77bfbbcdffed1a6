#include "data/model/Shared.h"

#include "platform/foundation/base/GroupContainer.h"

#include <QBuffer>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;

Q_LOGGING_CATEGORY(lcDebugPrint, "tickerly.debug", QtInfoMsg)

std::shared_ptr<UserDefaults> sharedDefaults()
{
    return std::make_shared<UserDefaults>(QString::fromUtf16(applicationGroupIdentifier));
}

std::optional<QString> getDataContainer()
{
    return GroupContainer::path(QString::fromUtf16(applicationGroupIdentifier));
}

QByteArray data(const QImage& image)
{
    if (image.isNull())
        return {};
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return png;
}

} // namespace Tickerly::Data

#include "data/model/SourceIconData.h"

#include "data/discovery/ImageScaling.h"
#include "data/model/Shared.h"
#include "data/model/Source.h"
#include "platform/foundation/base/GroupContainer.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QSaveFile>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
// Stored icons are 96 by 96; legacy ones are small too. Anything far larger is no icon.
constexpr int maxIconSide = 1024;
} // namespace

QString SourceIconData::iconUpdateNotification()
{
    return u"velmora.Tickerly.SourceIconData.iconUpdateNotification"_s;
}

QString SourceIconData::sourceKey() { return u"velmora.Tickerly.SourceIconData.sourceKey"_s; }

void SourceIconData::setIconForSource(const std::shared_ptr<Source>& source, const QImage& image)
{
    if (source) {
        if (const auto path = iconURLForSourceLink(source->link())) {
            const QImage icon = processImage(image);
            // A picture that gives no icon leaves any earlier file in place.
            if (!icon.isNull())
                writeImage(icon, *path);
        }
    }
    sendIconUpdateNotification(source);
}

void SourceIconData::setIconForSourceLink(const QString& link, const QImage& image)
{
    if (const auto path = iconURLForSourceLink(link); path && !image.isNull())
        writeImage(image, *path);
}

QImage SourceIconData::iconForSource(const Source& source) { return iconForLink(source.link()); }

namespace {

bool fitsAnIcon(const QSize& size)
{
    return size.isValid() && size.width() <= maxIconSide && size.height() <= maxIconSide;
}

} // namespace

QImage SourceIconData::iconForLink(const QString& link)
{
    const auto path = iconURLForSourceLink(link);
    if (!path)
        return {};
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&file);
    if (!fitsAnIcon(reader.size()))
        return {};
    return reader.read();
}

bool SourceIconData::hasIconForSource(const Source& source)
{
    const auto path = iconURLForSourceLink(source.link());
    if (!path)
        return false;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QImageReader reader(&file);
    return reader.canRead() && fitsAnIcon(reader.size());
}

void SourceIconData::writeImage(const QImage& image, const QString& toPath)
{
    QSaveFile file(toPath);
    // Whatever the umask, and also in place of an icon an earlier version wrote.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    file.write(data(image));
    file.commit();
}

QImage SourceIconData::processImage(const QImage& image)
{
    return scaleAndSquircle(image, QSizeF(96, 96));
}

std::optional<QString> SourceIconData::iconURLForSourceLink(const QString& link)
{
    const auto container = getDataContainer();
    if (!container)
        return std::nullopt;
    const QString dir = *container + u"/icon-data"_s;
    GroupContainer::makePrivateFolder(*container);
    GroupContainer::makePrivateFolder(dir);
    // A digest, so that no text from outside can make a path.
    const QByteArray digest
        = QCryptographicHash::hash(link.toUtf8(), QCryptographicHash::Sha256).toHex();
    return dir + u'/' + QString::fromLatin1(digest) + u".png"_s;
}

void SourceIconData::sendIconUpdateNotification(const std::shared_ptr<Source>& source)
{
    MainQueue::dispatchAsync([source] {
        NotificationCenter::defaultCenter().post(
            iconUpdateNotification(), nullptr, { { sourceKey(), QVariant::fromValue(source) } });
    });
}

} // namespace Tickerly::Data

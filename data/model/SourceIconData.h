#pragma once

#include "data/Namespace.h"
#include "tickerlydatamac_export.h"

#include <QImage>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::Data {

class Source;

// The sources' icons: one PNG file per source link in "icon-data" of the group container,
// shared by the application and the widget. Class functions only; any thread. Writes are
// atomic, so a reader in either program sees a whole file.
class TICKERLYDATAMAC_EXPORT SourceIconData {
public:
    SourceIconData() = delete;

    static QString iconUpdateNotification();
    // User-info key of the icon-update notification: the very std::shared_ptr<Source> passed.
    static QString sourceKey();

    // Stores the image scaled and masked to 96 by 96 as the source's icon, then posts the
    // icon-update notification on the main queue (also when nothing could be written).
    static void setIconForSource(const std::shared_ptr<Source>& source, const QImage& image);
    // Stores the image as it is as the icon of `link`; posts nothing.
    static void setIconForSourceLink(const QString& link, const QImage& image);
    // The stored icon, or a null image.
    static QImage iconForSource(const Source& source);
    // Whether an icon of a fitting size is stored, read from the file's header alone (asking
    // this of a thousand sources must not decode a thousand pictures).
    static bool hasIconForSource(const Source& source);
    static QImage iconForLink(const QString& link);

private:
    static void writeImage(const QImage& image, const QString& toPath);
    static QImage processImage(const QImage& image);
    static std::optional<QString> iconURLForSourceLink(const QString& link);
    static void sendIconUpdateNotification(const std::shared_ptr<Source>& source);
};

} // namespace Tickerly::Data

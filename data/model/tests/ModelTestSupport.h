#pragma once

#include "data/Namespace.h"
#include "platform/foundation/serialization/KeyedArchive.h"

#include <QImage>
#include <QString>

#include <optional>

namespace Tickerly::Data {

// An archive entry written the way older versions or damaged stores may have it: any class
// name, any subset of the source fields, a legacy icon.
class ArchivedSourceFixture : public Foundation::Coding {
public:
    QString className = QStringLiteral("TickerlyShared.Source");
    std::optional<QString> title;
    std::optional<QString> link;
    std::optional<qint64> noIconNumber;
    QImage icon;

    QString archivedClassName() const override { return className; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override
    {
        if (title)
            coder.encodeString(*title, QStringLiteral("title"));
        if (link)
            coder.encodeString(*link, QStringLiteral("link"));
        if (noIconNumber)
            coder.encodeInteger(*noIconNumber, QStringLiteral("noIcon"));
        coder.encodeImage(icon, QStringLiteral("icon"));
    }
};

} // namespace Tickerly::Data

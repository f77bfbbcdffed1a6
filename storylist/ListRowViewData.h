#pragma once

#include "storylist/Namespace.h"

#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::StoryList {

// The model of one story row: what the row shows, already resolved (icon fallback, read state),
// so that views never touch stories or stores. Immutable once made; made and read on the main
// thread, shared through std::shared_ptr between the data source and the cell bound to it.
class ListRowViewData {
public:
    // Parameters are named apart from the fields they set, which are public and constant.
    ListRowViewData(QString titleValue, std::optional<QDateTime> dateValue, QString textValue,
        std::optional<QImage> imageValue, QImage iconValue, bool readValue)
        : title(std::move(titleValue))
        , date(std::move(dateValue))
        , text(std::move(textValue))
        , image(std::move(imageValue))
        , icon(std::move(iconValue))
        , read(readValue)
    {
    }

    const QString title;
    const std::optional<QDateTime> date;
    const QString text;
    const std::optional<QImage> image;
    const QImage icon;
    const bool read;
};

} // namespace Tickerly::StoryList

// A row's object value in the story table.
Q_DECLARE_METATYPE(std::shared_ptr<const Tickerly::StoryList::ListRowViewData>)

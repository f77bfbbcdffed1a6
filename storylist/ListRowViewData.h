#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

#include <optional>

// The model of one story row: what the row shows, already resolved (icon fallback, read state),
// so that views never touch stories or stores. Immutable once made; made and read on the main
// thread, shared through std::shared_ptr between the data source and the cell bound to it.
class ListRowViewData {
public:
    ListRowViewData(QString title, std::optional<QDateTime> date, QString text,
                    std::optional<QImage> image, QImage icon, bool read)
        : title(std::move(title))
        , date(std::move(date))
        , text(std::move(text))
        , image(std::move(image))
        , icon(std::move(icon))
        , read(read)
    {
    }

    const QString title;
    const std::optional<QDateTime> date;
    const QString text;
    const std::optional<QImage> image;
    const QImage icon;
    const bool read;
};

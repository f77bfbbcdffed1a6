#pragma once

#include "data/model/NewsStory.h"
#include "data/model/Source.h"
#include "platform/foundation/KeyedArchive.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

namespace storytest {

inline std::shared_ptr<Source> source()
{
    return std::make_shared<Source>(QStringLiteral("Example"), QStringLiteral("http://example.com/feed"));
}

// A story with the given link (none for an empty text) dated `seconds` after 1970.
inline std::shared_ptr<NewsStory> story(const QString& link, std::optional<qint64> seconds = std::nullopt,
    const QString& headline = QStringLiteral("Headline"))
{
    std::optional<QDateTime> date;
    if (seconds)
        date = QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
    return std::make_shared<NewsStory>(headline, QStringLiteral("Body"),
        link.isEmpty() ? std::nullopt : Url::fromString(link), date, source());
}

// An archived story written as damaged or older stores may have it.
class ArchivedStoryFixture : public Coding {
public:
    QString className = QStringLiteral("TickerlyShared.NewsStory");
    std::optional<QString> headline;
    std::optional<qint64> headlineNumber;
    std::optional<QString> body;
    std::optional<QString> link;
    std::optional<QByteArray> imageData;
    std::shared_ptr<Coding> sourceObject;

    QString archivedClassName() const override { return className; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        if (headline)
            coder.encodeString(*headline, QStringLiteral("headline"));
        if (headlineNumber)
            coder.encodeInteger(*headlineNumber, QStringLiteral("headline"));
        if (body)
            coder.encodeString(*body, QStringLiteral("body"));
        if (link)
            coder.encodeUrl(*Url::fromString(*link), QStringLiteral("link"));
        if (imageData)
            coder.encodeData(*imageData, QStringLiteral("imageData"));
        if (sourceObject)
            coder.encodeObject(*sourceObject, QStringLiteral("source"));
    }
};

} // namespace storytest

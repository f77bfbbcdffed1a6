#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/Source.h"
#include "platform/foundation/serialization/KeyedArchive.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Tickerly::Data {

namespace StoryTest {

inline std::shared_ptr<Source> source()
{
    return std::make_shared<Source>(
        QStringLiteral("Example"), QStringLiteral("http://example.com/feed"));
}

// A story with the given link (none for an empty text) dated `seconds` after 1970.
inline std::shared_ptr<NewsStory> story(const QString& link,
    std::optional<qint64> seconds = std::nullopt,
    const QString& headline = QStringLiteral("Headline"))
{
    std::optional<QDateTime> date;
    if (seconds)
        date = QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC);
    return std::make_shared<NewsStory>(headline, QStringLiteral("Body"),
        link.isEmpty() ? std::nullopt : Foundation::Url::fromString(link), date, source());
}

inline QString linkNumber(int i)
{
    return QStringLiteral("http://news.example/") + QString::number(i);
}

// The links of `stories` in order, the empty text for a story without one.
inline QStringList linksOf(const QList<std::shared_ptr<NewsStory>>& stories)
{
    QStringList out;
    for (const auto& s : stories)
        out.append(s->link() ? s->link()->absoluteString() : QString());
    return out;
}

// An archived story written as damaged or older stores may have it.
class ArchivedStoryFixture : public Foundation::Coding {
public:
    QString className = QStringLiteral("TickerlyShared.NewsStory");
    std::optional<QString> headline;
    std::optional<qint64> headlineNumber;
    std::optional<QString> body;
    std::optional<QString> link;
    std::optional<QByteArray> imageData;
    std::shared_ptr<Foundation::Coding> sourceObject;

    QString archivedClassName() const override { return className; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override
    {
        if (headline)
            coder.encodeString(*headline, QStringLiteral("headline"));
        if (headlineNumber)
            coder.encodeInteger(*headlineNumber, QStringLiteral("headline"));
        if (body)
            coder.encodeString(*body, QStringLiteral("body"));
        if (link)
            coder.encodeUrl(*Foundation::Url::fromString(*link), QStringLiteral("link"));
        if (imageData)
            coder.encodeData(*imageData, QStringLiteral("imageData"));
        if (sourceObject)
            coder.encodeObject(*sourceObject, QStringLiteral("source"));
    }
};

} // namespace StoryTest

} // namespace Tickerly::Data

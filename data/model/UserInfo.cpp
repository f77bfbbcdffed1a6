#include "data/model/UserInfo.h"

#include "data/model/Shared.h"
#include "platform/foundation/PreferredLanguages.h"

#include <QTextBoundaryFinder>
#include <QUuid>

#include <optional>

using namespace Qt::Literals::StringLiterals;

QString UserInfo::language()
{
    const QStringList languages = preferredLanguages();
    if (languages.isEmpty())
        return u"na"_s;
    const QString& first = languages.first();
    // Characters as the user sees them, so a combining mark stays with its letter.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, first);
    graphemes.toNextBoundary();
    const qsizetype end = graphemes.toNextBoundary();
    if (end < 0)
        return first;
    return first.left(end);
}

QString UserInfo::userId()
{
    const QString key = QString::fromUtf16(userDefaultsUUIDKey);
    const auto store = sharedDefaults();
    if (auto stored = store->string(key))
        return *stored;

    // Read again inside the write transaction: the other program may have just stored one.
    std::optional<QString> userId;
    store->update(key, [&](const std::optional<QVariant>&) -> std::optional<QVariant> {
        if ((userId = store->string(key)))
            return std::nullopt;
        userId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        return QVariant(*userId);
    });
    store->synchronize();
    // A suite that took nothing still gets an identifier; the next call makes another.
    if (!userId)
        userId = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return *userId;
}

#pragma once

#include "data/model/Shared.h"
#include "platform/foundation/KeyedArchive.h"

#include <QList>
#include <QVariant>

#include <memory>
#include <optional>

// The bytes of a stored value that should hold an archive; nothing for any other value.
inline std::optional<QByteArray> archivedBytes(const std::optional<QVariant>& value)
{
    if (!value || value->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value->toByteArray();
}

// The objects of a stored archive of a list of T. An element that cannot be decoded costs that
// element only (traced as a stored `what`); an element of another class, or bytes that are no
// archive of a list, give the empty list. The classes must be registered first.
template <typename T>
QList<std::shared_ptr<T>> archivedList(const std::optional<QByteArray>& data, const QString& what)
{
    if (!data)
        return {};
    const auto objects = KeyedUnarchiver::unarchiveArrayWithData(*data);
    if (!objects)
        return {};
    QList<std::shared_ptr<T>> list;
    list.reserve(objects->size());
    for (const auto& object : *objects) {
        if (!object) {
            debugprint(QStringLiteral("skipped a stored %1 that could not be read").arg(what));
            continue;
        }
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed)
            return {};
        list.append(std::move(typed));
    }
    return list;
}

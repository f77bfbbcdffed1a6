#pragma once

#include "data/Namespace.h"
#include "data/model/Shared.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QList>
#include <QVariant>

#include <memory>
#include <optional>

namespace Tickerly::Data {

// The bytes of a stored value that should hold an archive; nothing for any other value.
inline std::optional<QByteArray> archivedBytes(const std::optional<QVariant>& value)
{
    if (!value || value->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value->toByteArray();
}

// The objects of a stored archive of a list of T. An element that cannot be decoded costs that
// element only (traced as a stored `what`); of damaged bytes, the elements before the damage are
// read. An element of another class, or bytes that are no archive of a list, give the empty list.
// The classes must be registered first. `damaged`, when given, learns whether anything stored was
// lost in reading.
template <typename T>
QList<std::shared_ptr<T>> archivedList(
    const std::optional<QByteArray>& data, const QString& what, bool* damaged = nullptr)
{
    bool lost = false;
    bool& isDamaged = damaged ? *damaged : lost;
    isDamaged = false;
    if (!data)
        return {};
    auto objects = Foundation::KeyedUnarchiver::unarchiveArrayWithData(*data);
    if (!objects && !data->isEmpty()) {
        isDamaged = true;
        debugprint(
            QStringLiteral("a stored list of %1 is damaged; reading what comes before the damage")
                .arg(what));
        objects = Foundation::KeyedUnarchiver::readableArrayWithData(*data);
    }
    if (!objects)
        return {};
    QList<std::shared_ptr<T>> list;
    list.reserve(objects->size());
    for (const auto& object : *objects) {
        if (!object) {
            debugprint(QStringLiteral("skipped a stored %1 that could not be read").arg(what));
            isDamaged = true;
            continue;
        }
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed) {
            isDamaged = true;
            return {};
        }
        list.append(std::move(typed));
    }
    return list;
}

// The list stored under `key` of `suite`, read inside a change of it: whatever cannot be read is
// kept aside first, so the change never silently writes over it.
template <typename T>
QList<std::shared_ptr<T>> archivedListForChange(const QString& suite, const QString& key,
    const std::optional<QVariant>& current, const QString& what)
{
    bool damaged = false;
    const std::optional<QByteArray> bytes = archivedBytes(current);
    auto list = archivedList<T>(bytes, what, &damaged);
    if (damaged)
        Foundation::UserDefaults(suite).keepAside(key, *bytes);
    return list;
}

} // namespace Tickerly::Data

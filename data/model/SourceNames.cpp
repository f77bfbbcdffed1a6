#include "data/model/SourceNames.h"

#include "data/model/Shared.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString namesKey = u"velmora.Tickerly.SourceNames"_s;

SourceNames::NameTable tableFromValue(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return {};
    const QVariantMap map = value.toMap();
    SourceNames::NameTable table;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        // One entry that is no text makes the whole table unusable.
        if (it.value().typeId() != QMetaType::QString)
            return {};
        table.insert(it.key(), it.value().toString());
    }
    return table;
}

QVariantMap valueFromTable(const SourceNames::NameTable& table)
{
    QVariantMap map;
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace

SourceNames::SourceNames(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
{
}

SourceNames::NameTable SourceNames::names() const
{
    return tableFromValue(m_localStore->value(namesKey));
}

UserDefaults::Outcome SourceNames::setNames(const NameTable& names)
{
    // Left to be written out at the store's own pace: nothing waits on it.
    return m_localStore->set(namesKey, valueFromTable(names));
}

UserDefaults::Outcome SourceNames::modifyNames(std::function<void(NameTable&)> change)
{
    return m_localStore->updateOrKeep(namesKey,
        [change = std::move(change)](
            const std::optional<QVariant>& current) -> std::optional<QVariant> {
            NameTable table = tableFromValue(current.value_or(QVariant()));
            change(table);
            return QVariant(valueFromTable(table));
        });
}

std::optional<QString> SourceNames::nameForLink(const QString& link) const
{
    const NameTable table = names();
    const auto it = table.constFind(link);
    if (it == table.cend())
        return std::nullopt;
    return *it;
}

} // namespace Tickerly::Data

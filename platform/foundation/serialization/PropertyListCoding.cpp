#include "platform/foundation/serialization/PropertyListCoding_p.h"

#include <QDateTime>

#include <cmath>
#include <limits>

namespace Tickerly::Foundation {

namespace {

// CBOR tag of a date given as seconds since 1970.
constexpr quint64 epochDateTag = 1;
// Dates beyond this many seconds either way are no dates a user can have stored.
constexpr double maxDateSeconds = 1e13;

} // namespace

std::optional<QVariant> fromItem(const CborItem& item)
{
    switch (item.kind) {
    case CborItem::Kind::Integer:
        return QVariant(item.integer);
    case CborItem::Kind::Double:
        return QVariant(item.real);
    case CborItem::Kind::Bool:
        return QVariant(item.boolean);
    case CborItem::Kind::Text:
        return QVariant(item.text);
    case CborItem::Kind::Bytes:
        return QVariant(item.bytes);
    case CborItem::Kind::Array: {
        QVariantList list;
        list.reserve(qsizetype(item.items.size()));
        for (const auto& element : item.items) {
            auto v = fromItem(element);
            if (!v)
                return std::nullopt;
            list.append(*v);
        }
        return QVariant(list);
    }
    case CborItem::Kind::Map: {
        QVariantMap map;
        for (const auto& [key, value] : item.entries) {
            auto v = fromItem(value);
            if (!v)
                return std::nullopt;
            map.insert(key, *v);
        }
        return QVariant(map);
    }
    case CborItem::Kind::Tag: {
        const CborItem* seconds = item.tagged(epochDateTag);
        if (!seconds || !seconds->isNumber())
            return std::nullopt;
        const double s
            = seconds->kind == CborItem::Kind::Integer ? double(seconds->integer) : seconds->real;
        if (!std::isfinite(s) || std::fabs(s) > maxDateSeconds)
            return std::nullopt;
        return QVariant(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(s * 1000.0)), Qt::UTC));
    }
    case CborItem::Kind::Null:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<CborItem> toItem(const QVariant& v, int depth)
{
    if (depth > Cbor::maxDepth)
        return std::nullopt;
    switch (v.typeId()) {
    case QMetaType::Bool:
        return CborItem::makeBool(v.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return CborItem::makeInteger(v.toLongLong());
    case QMetaType::ULong: // 64 bits here, as wide as ULongLong
    case QMetaType::ULongLong: {
        const quint64 u = v.toULongLong();
        if (u > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return CborItem::makeInteger(qint64(u));
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return CborItem::makeDouble(v.toDouble());
    case QMetaType::QString:
        return CborItem::makeText(v.toString());
    case QMetaType::QByteArray:
        return CborItem::makeBytes(v.toByteArray());
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid())
            return std::nullopt;
        return CborItem::makeTag(
            epochDateTag, CborItem::makeDouble(double(dt.toMSecsSinceEpoch()) / 1000.0));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        std::vector<CborItem> items;
        for (const QVariant& element : v.toList()) {
            auto item = toItem(element, depth + 1);
            if (!item)
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return CborItem::makeArray(std::move(items));
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        // A map from toMap() is ordered by key, so equal dictionaries give equal bytes.
        const QVariantMap map = v.toMap();
        std::vector<std::pair<QString, CborItem>> entries;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            auto item = toItem(it.value(), depth + 1);
            if (!item)
                return std::nullopt;
            entries.emplace_back(it.key(), std::move(*item));
        }
        return CborItem::makeMap(std::move(entries));
    }
    default:
        return std::nullopt;
    }
}

std::optional<QVariant> decodeValue(const QByteArray& bytes)
{
    auto item = Cbor::decode(bytes);
    if (!item)
        return std::nullopt;
    return fromItem(*item);
}

} // namespace Tickerly::Foundation

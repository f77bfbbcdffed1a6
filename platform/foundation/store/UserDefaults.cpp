#include "platform/foundation/store/UserDefaults.h"

#include "platform/foundation/serialization/Cbor_p.h"
#include "platform/foundation/serialization/PropertyListCoding_p.h"
#include "platform/foundation/store/UserDefaultsConnection_p.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

qint64 saturated(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return qint64(d);
}

} // namespace

UserDefaults::UserDefaults(const QString& suiteName)
    : d(connectionFor(suiteName))
{
    d->replayAtOpen();
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::suiteName() const { return d->database().suiteName(); }

bool UserDefaults::isPersistent() const { return d->database().isPersistent(); }

bool UserDefaults::isReadOnly() const { return d->database().isReadOnly(); }

QVariant UserDefaults::value(const QString& key) const
{
    // Data (a stored list runs to megabytes) is copied once, straight out of the store, rather
    // than copied whole and then decoded into a second copy.
    std::optional<std::pair<bool, QByteArray>> bytes;
    {
        std::unique_lock<std::recursive_timed_mutex> writerLock;
        std::unique_lock<std::mutex> readerLock;
        bytes = StoreDatabase::withStored(
            d->database().readConnection(writerLock, readerLock), key, [](QByteArrayView stored) {
                if (const auto content = Cbor::oneByteString(stored))
                    return std::pair(true, content->toByteArray());
                return std::pair(false, stored.toByteArray());
            });
    }
    if (!bytes)
        return {};
    if (bytes->first)
        return QVariant(std::move(bytes->second));
    return decodeValue(bytes->second).value_or(QVariant());
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::LongLong:
        return QString::number(v.toLongLong());
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return v.toBool() ? u"1"_s : u"0"_s;
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v.toByteArray();
}

std::optional<QDateTime> UserDefaults::date(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QDateTime)
        return std::nullopt;
    return v.toDateTime();
}

std::optional<QVariantList> UserDefaults::array(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    return v.toList();
}

std::optional<QVariantMap> UserDefaults::dictionary(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return v.toMap();
}

qint64 UserDefaults::integer(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
        return v.toLongLong();
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Double:
        return saturated(v.toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const qint64 i = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return i;
        const double f = v.toString().trimmed().toDouble(&ok);
        return ok ? saturated(f) : 0;
    }
    default:
        return 0;
    }
}

double UserDefaults::doubleValue(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::LongLong:
        return double(v.toLongLong());
    case QMetaType::Bool:
        return v.toBool() ? 1.0 : 0.0;
    case QMetaType::Double:
        return v.toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double f = v.toString().trimmed().toDouble(&ok);
        return ok ? f : 0.0;
    }
    default:
        return 0.0;
    }
}

bool UserDefaults::boolean(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::LongLong:
        return v.toLongLong() != 0;
    case QMetaType::Double:
        return v.toDouble() != 0.0 && !std::isnan(v.toDouble());
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        return s == u"true"_s || s == u"yes"_s || s == u"1"_s;
    }
    default:
        return false;
    }
}

namespace {

std::optional<std::optional<QByteArray>> encoded(const QString& key, const QVariant& value)
{
    if (!value.isValid())
        return std::optional<QByteArray>();
    auto item = toItem(value, 0);
    if (!item) {
        qCWarning(lcUserDefaults) << "not a property-list value for" << key
                                  << value.metaType().name();
        return std::nullopt;
    }
    return std::optional<QByteArray>(Cbor::encode(*item));
}

} // namespace

UserDefaults::Outcome UserDefaults::set(const QString& key, const QVariant& value)
{
    return setValues({ { key, value } });
}

UserDefaults::Outcome UserDefaults::remove(const QString& key) { return set(key, QVariant()); }

UserDefaults::Outcome UserDefaults::setValues(const QVariantMap& values)
{
    return setValues(values, {});
}

QByteArray UserDefaults::startData(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(9 + std::max<qsizetype>(size, 0));
    Cbor::appendHead(bytes, Cbor::Major::Bytes, quint64(std::max<qsizetype>(size, 0)));
    return bytes;
}

UserDefaults::Outcome UserDefaults::setValues(
    const QVariantMap& values, std::vector<std::pair<QString, QByteArray>> data)
{
    Connection::Change change;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        auto bytes = encoded(it.key(), it.value());
        if (!bytes)
            return Outcome::Failed;
        change.values.emplace_back(it.key(), std::move(*bytes));
    }
    for (auto& [key, bytes] : data) {
        // Anything else would be stored as bytes no reader takes for the data meant.
        if (!Cbor::isOneByteString(bytes)) {
            qCWarning(lcUserDefaults)
                << "data for" << key << "does not hold the length it began with";
            return Outcome::Failed;
        }
        change.values.emplace_back(key, std::move(bytes));
        change.journalValues = false;
    }
    return d->change(std::move(change), Connection::WhenBusy::Keep);
}

bool UserDefaults::update(const QString& key, const Updater& fn)
{
    // Never kept: `fn` may use what the caller holds only during the call.
    Connection::Change change;
    change.key = key;
    change.update = std::cref(fn);
    return d->change(std::move(change), Connection::WhenBusy::Fail) == Outcome::Done;
}

UserDefaults::Outcome UserDefaults::updateOrKeep(
    const QString& key, Updater fn, std::function<void(bool)> done, Replay replay)
{
    Connection::Change change;
    change.key = key;
    change.update = std::move(fn);
    change.done = std::move(done);
    change.replay = std::move(replay);
    return d->change(std::move(change), Connection::WhenBusy::Keep);
}

UserDefaults::Outcome UserDefaults::updateOrKeep(const QString& key,
    std::shared_ptr<const Form> form, FormUpdater fn, std::function<void(bool)> done, Replay replay)
{
    Connection::Change change;
    change.key = key;
    change.form = std::move(form);
    change.formUpdate = std::move(fn);
    change.done = std::move(done);
    change.replay = std::move(replay);
    return d->change(std::move(change), Connection::WhenBusy::Keep);
}

bool UserDefaults::retryKeptChanges(std::chrono::milliseconds wait)
{
    return d->retryKept(QDeadlineTimer(wait.count()));
}

int UserDefaults::keptChanges() const { return d->keptCount(); }

std::vector<QByteArray> UserDefaults::keptAside(const QString& key) const
{
    std::unique_lock<std::recursive_timed_mutex> writerLock;
    std::unique_lock<std::mutex> readerLock;
    sqlite3* db = d->database().readConnection(writerLock, readerLock);
    std::vector<QByteArray> values;
    sqlite3_stmt* stmt = nullptr;
    if (!db
        || sqlite3_prepare_v2(
               db, "SELECT value FROM kept_aside WHERE key = ?1 ORDER BY rowid", -1, &stmt, nullptr)
            != SQLITE_OK)
        return values;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        values.emplace_back(
            static_cast<const char*>(sqlite3_column_blob(stmt, 0)), sqlite3_column_bytes(stmt, 0));
    sqlite3_finalize(stmt);
    return values;
}

bool UserDefaults::keepAside(const QString& key, const QByteArray& value)
{
    // Inside an update's function this joins its transaction.
    Connection::Change change;
    change.other = [&](StoreDatabase& c) {
        return c.transaction([&] { return c.insertKeptAside(key, value); });
    };
    return d->change(std::move(change), Connection::WhenBusy::Fail) == Outcome::Done;
}

void UserDefaults::setWriteWaitLimit(std::chrono::milliseconds limit)
{
    StoreProcess::setWriteWaitLimitMs(limit.count());
}

void UserDefaults::setMaxValueSizeForTesting(qsizetype size)
{
    StoreProcess::setStoredValueReadBound(
        size > 0 ? std::min<qint64>(size, Cbor::maxInputSize) : Cbor::maxInputSize);
}

bool UserDefaults::synchronize() { return true; }

} // namespace Tickerly::Foundation

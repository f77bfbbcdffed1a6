#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Cbor_p.h"
#include "platform/foundation/GroupContainer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStringList>
#include <QThread>

#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <map>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcUserDefaults, "tickerly.userdefaults")

namespace {

// CBOR tag of a date given as seconds since 1970.
constexpr quint64 epochDateTag = 1;
// Dates beyond this many seconds either way are no dates a user can have stored.
constexpr double maxDateSeconds = 1e13;
// How long a writer waits for the other process's transaction before giving up.
constexpr int busyTimeoutMs = 10000;

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
        return CborItem::makeTag(epochDateTag, CborItem::makeDouble(double(dt.toMSecsSinceEpoch()) / 1000.0));
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
        const double s = seconds->kind == CborItem::Kind::Integer ? double(seconds->integer) : seconds->real;
        if (!std::isfinite(s) || std::fabs(s) > maxDateSeconds)
            return std::nullopt;
        return QVariant(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(s * 1000.0)), Qt::UTC));
    }
    case CborItem::Kind::Null:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QVariant> decodeValue(const QByteArray& bytes)
{
    auto item = Cbor::decode(bytes);
    if (!item)
        return std::nullopt;
    return fromItem(*item);
}

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

enum class OpenResult { Ok, Damaged, Busy, Failed };

OpenResult classify(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return OpenResult::Damaged;
    // The other program is creating or converting the file at this moment.
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return OpenResult::Busy;
    default:
        return OpenResult::Failed;
    }
}

} // namespace

struct UserDefaults::Connection {
    QString suiteName;
    // Recursive, so that an update's function may read the suite it is changing.
    std::recursive_mutex mutex;
    sqlite3* db = nullptr;
    bool persistent = false;
    int lastError = SQLITE_OK;

    ~Connection()
    {
        if (db)
            sqlite3_close(db);
    }

    int exec(const char* sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }

    OpenResult open(const QString& file)
    {
        const QByteArray name = file.toUtf8();
        int rc = sqlite3_open_v2(name.constData(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK)
            return close(rc);
        sqlite3_busy_timeout(db, busyTimeoutMs);
        if (file != u":memory:"_s) {
            if ((rc = exec("PRAGMA journal_mode=WAL")) != SQLITE_OK)
                return close(rc);
            // Durable across a crash of either program; only a power cut may lose the last commit.
            if ((rc = exec("PRAGMA synchronous=NORMAL")) != SQLITE_OK)
                return close(rc);
        }
        rc = exec("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL) WITHOUT ROWID");
        if (rc != SQLITE_OK)
            return close(rc);
        if ((rc = quickCheck()) != SQLITE_OK)
            return close(rc);
        return OpenResult::Ok;
    }

    // SQLITE_OK for a sound file, SQLITE_CORRUPT for damage, else the error met (a busy file is
    // no damaged one and must never be moved aside).
    int quickCheck()
    {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
        if (rc != SQLITE_OK)
            return rc;
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW)
            rc = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
        sqlite3_finalize(stmt);
        return rc;
    }

    OpenResult close(int rc)
    {
        if (db)
            sqlite3_close(db);
        db = nullptr;
        lastError = rc;
        return classify(rc);
    }

    // The raw stored bytes of `key`; nothing when unset or unreadable. Lock held by the caller.
    std::optional<QByteArray> read(const QString& key)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT value FROM defaults WHERE key = ?1", -1, &stmt, nullptr) != SQLITE_OK)
            return std::nullopt;
        const QByteArray k = key.toUtf8();
        sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        std::optional<QByteArray> result;
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 0));
            result = QByteArray(bytes, sqlite3_column_bytes(stmt, 0));
        }
        sqlite3_finalize(stmt);
        return result;
    }

    // Writes `bytes` under `key`, or removes the key when there are none. Lock held by the caller.
    bool write(const QString& key, const std::optional<QByteArray>& bytes)
    {
        const char* sql = bytes ? "INSERT INTO defaults (key, value) VALUES (?1, ?2) "
                                  "ON CONFLICT (key) DO UPDATE SET value = excluded.value"
                                : "DELETE FROM defaults WHERE key = ?1";
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return false;
        const QByteArray k = key.toUtf8();
        sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        if (bytes)
            sqlite3_bind_blob(stmt, 2, bytes->constData(), int(bytes->size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            qCWarning(lcUserDefaults) << "write to suite" << suiteName << "failed:" << sqlite3_errstr(rc);
            return false;
        }
        return true;
    }
};

namespace {

// Moves a damaged database (and its journal files) aside under the first free ".corrupt" name.
void moveAside(const QString& file)
{
    QString target = file + u".corrupt"_s;
    for (int n = 1; QFile::exists(target) && n < 100; ++n)
        target = file + u".corrupt."_s + QString::number(n);
    QFile::remove(target);
    QFile::rename(file, target);
    for (const QString& suffix : { u"-wal"_s, u"-shm"_s }) {
        QFile::remove(target + suffix);
        QFile::rename(file + suffix, target + suffix);
    }
}

} // namespace

std::shared_ptr<UserDefaults::Connection> UserDefaults::openSuite(const QString& suiteName)
{
    auto c = std::make_shared<UserDefaults::Connection>();
    c->suiteName = suiteName;
    const auto container = GroupContainer::path(suiteName);
    if (container) {
        const QString dir = *container + u"/Preferences"_s;
        const QString file = dir + u'/' + suiteName + u".sqlite"_s;
        if (QDir().mkpath(dir)) {
            OpenResult r = c->open(file);
            // Some steps of opening (switching the journal) take a lock without waiting for it.
            QDeadlineTimer deadline(busyTimeoutMs);
            while (r == OpenResult::Busy && !deadline.hasExpired()) {
                QThread::msleep(20);
                r = c->open(file);
            }
            if (r == OpenResult::Damaged) {
                qCWarning(lcUserDefaults) << "suite" << suiteName << "is damaged; kept as" << file + u".corrupt"_s
                                          << "and started anew";
                moveAside(file);
                r = c->open(file);
            }
            if (r == OpenResult::Ok) {
                c->persistent = true;
                return c;
            }
        }
    }
    qCWarning(lcUserDefaults) << "suite" << suiteName << "cannot be opened (" << sqlite3_errstr(c->lastError)
                              << "); settings of this run will not be kept";
    if (c->open(u":memory:"_s) != OpenResult::Ok)
        c->db = nullptr;
    return c;
}

// One connection per suite per process: handles are made on every store call, opening SQLite
// each time would cost far more than the read.
std::shared_ptr<UserDefaults::Connection> UserDefaults::connectionFor(const QString& suiteName)
{
    static std::mutex mutex;
    static std::map<QString, std::shared_ptr<UserDefaults::Connection>> connections;
    // Keyed by the location, so a test's fresh data home gets a fresh suite.
    const QString where = GroupContainer::path(suiteName).value_or(QString()) + u'\n' + suiteName;
    std::lock_guard lock(mutex);
    auto& c = connections[where];
    if (!c)
        c = openSuite(suiteName);
    return c;
}

UserDefaults::UserDefaults(const QString& suiteName)
    : d(connectionFor(suiteName))
{
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::suiteName() const
{
    return d->suiteName;
}

bool UserDefaults::isPersistent() const
{
    return d->persistent;
}

QVariant UserDefaults::value(const QString& key) const
{
    std::optional<QByteArray> bytes;
    {
        std::lock_guard lock(d->mutex);
        if (!d->db)
            return {};
        bytes = d->read(key);
    }
    if (!bytes)
        return {};
    return decodeValue(*bytes).value_or(QVariant());
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

bool UserDefaults::set(const QString& key, const QVariant& value)
{
    std::optional<QByteArray> bytes;
    if (value.isValid()) {
        auto item = toItem(value, 0);
        if (!item) {
            qCWarning(lcUserDefaults) << "not a property-list value for" << key << value.metaType().name();
            return false;
        }
        bytes = Cbor::encode(*item);
    }
    std::lock_guard lock(d->mutex);
    return d->db && d->write(key, bytes);
}

bool UserDefaults::remove(const QString& key)
{
    return set(key, QVariant());
}

bool UserDefaults::update(const QString& key, const Updater& fn)
{
    std::lock_guard lock(d->mutex);
    if (!d->db)
        return false;
    if (const int rc = d->exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
        qCWarning(lcUserDefaults) << "suite" << d->suiteName << "stayed busy:" << sqlite3_errstr(rc);
        return false;
    }
    bool ok = false;
    try {
        std::optional<QVariant> current;
        if (auto bytes = d->read(key))
            current = decodeValue(*bytes);
        const std::optional<QVariant> next = fn(current);
        if (!next) {
            ok = true;
        } else if (!next->isValid()) {
            ok = d->write(key, std::nullopt);
        } else if (auto item = toItem(*next, 0)) {
            ok = d->write(key, Cbor::encode(*item));
        } else {
            qCWarning(lcUserDefaults) << "not a property-list value for" << key << next->metaType().name();
        }
    } catch (...) {
        ok = false;
    }
    if (ok && d->exec("COMMIT") == SQLITE_OK)
        return true;
    d->exec("ROLLBACK");
    return false;
}

bool UserDefaults::synchronize()
{
    return true;
}

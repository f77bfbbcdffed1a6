#pragma once

#include "data/Namespace.h"
#include "data/model/Shared.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Tickerly::Data {

// The shared store as it is, copied whole into a data home of its own whose file and folders
// can be read but not written, for the life of the object; the process runs without the powers
// that let root write past file permissions meanwhile. Check `ok()`: the shared suite is then
// read-only. Tests link SQLite.
class ReadOnlyStore {
public:
    ReadOnlyStore()
    {
        const QString written = storeFile();
        m_home = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", m_lockedHome.path().toLocal8Bit());
        m_locked = storeFile();
        QDir().mkpath(QFileInfo(m_locked).path());
        sqlite3* db = nullptr;
        if (sqlite3_open(written.toUtf8().constData(), &db) == SQLITE_OK) {
            const QByteArray copy = "VACUUM INTO '" + m_locked.toUtf8() + "'";
            sqlite3_exec(db, copy.constData(), nullptr, nullptr, nullptr);
        }
        sqlite3_close(db);
        m_preferences = QFileInfo(m_locked).path();
        m_container = QFileInfo(m_preferences).path();
        m_locking = QFile::setPermissions(m_locked, readable);
        for (const QString& folder : { m_preferences, m_container })
            m_locking = QFile::setPermissions(folder, enterable) && m_locking;
        setFilePowers(false);
    }
    ~ReadOnlyStore()
    {
        setFilePowers(true);
        for (const QString& folder : { m_preferences, m_container })
            QFile::setPermissions(folder, enterable | QFile::WriteOwner);
        QFile::setPermissions(m_locked, readable | QFile::WriteOwner);
        qputenv("XDG_DATA_HOME", m_home);
    }
    ReadOnlyStore(const ReadOnlyStore&) = delete;
    ReadOnlyStore& operator=(const ReadOnlyStore&) = delete;

    bool ok() const { return m_locking && sharedDefaults()->isReadOnly(); }

private:
    static constexpr auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    static constexpr auto enterable
        = readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;

    static QString storeFile()
    {
        return getDataContainer().value_or(QString()) + QStringLiteral("/Preferences/")
            + QString::fromUtf16(applicationGroupIdentifier) + QStringLiteral(".sqlite");
    }
    static void setFilePowers(bool on)
    {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct data[2] {};
        if (syscall(SYS_capget, &header, data) != 0)
            return;
        const quint32 powers
            = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        data[0].effective
            = on ? data[0].effective | (data[0].permitted & powers) : data[0].effective & ~powers;
        syscall(SYS_capset, &header, data);
    }

    QTemporaryDir m_lockedHome;
    QByteArray m_home;
    QString m_locked;
    QString m_preferences;
    QString m_container;
    bool m_locking = false;
};

} // namespace Tickerly::Data

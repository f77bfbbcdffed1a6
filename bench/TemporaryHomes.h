#pragma once

#include <QDir>
#include <QTemporaryDir>

// Points this process's data, configuration and cache homes, and so those of the programs it
// starts, into `home`, and its windows at the X server: a measured program starts as on a new
// machine.
inline void useTemporaryHomes(const QTemporaryDir& home)
{
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", QDir(home.path()).filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
}

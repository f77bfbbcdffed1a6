#pragma once

#include <QFile>
#include <QString>

// A memory figure of the process's status ("VmHWM:", "VmRSS:"), in MiB; 0 when unknown.
inline double statusMemoryMiB(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// The process's peak resident memory so far, in MiB.
inline double peakMemoryMiB()
{
    return statusMemoryMiB("VmHWM:");
}

// The process's resident memory now, in MiB.
inline double residentMemoryMiB()
{
    return statusMemoryMiB("VmRSS:");
}

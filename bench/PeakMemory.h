#pragma once

#include <QFile>
#include <QString>

// A memory figure of the process from /proc/self/status ("VmHWM:", "VmRSS:"), in MiB; 0 when
// unknown.
inline double processMemoryMiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toDouble()
                / 1024.0;
    }
    return 0;
}

// The process's peak resident memory so far (VmHWM), in MiB; 0 when unknown.
inline double peakMemoryMiB() { return processMemoryMiB("VmHWM:"); }

// The process's resident memory now (VmRSS), in MiB; 0 when unknown.
inline double residentMemoryMiB() { return processMemoryMiB("VmRSS:"); }

// Starts the peak (VmHWM) afresh from the memory resident now.
inline bool resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

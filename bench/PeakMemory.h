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

// A memory figure of process `pid` ("VmHWM", "VmRSS"), in MiB; -1 when unknown.
inline double processStatusMiB(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// The CPU time process `pid` has taken so far, in clock ticks; -1 when unknown.
inline qint64 processCpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

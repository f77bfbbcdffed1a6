#pragma once

#include <QEventLoop>
#include <QTimer>

#include <ctime>

// The calling thread's processor time so far, in milliseconds.
inline double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Runs the calling thread's event loop for `ms` milliseconds of the wall clock.
inline void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

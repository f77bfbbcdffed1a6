#include "platform/foundation/StoreWriteLock_p.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace {

// A waiter that has waited this long takes its turn before anyone who comes after it.
constexpr qint64 turnAfterMs = 20;

} // namespace

std::optional<FileId> fileId(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId { st.st_dev, st.st_ino };
}

bool lockByte(int fd, off_t byte, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

namespace {

bool takenByOther(int fd, off_t byte)
{
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

} // namespace

// Takes the write lock of `fd` before `deadline`. Polling alone lets a busy writer win every
// round; so a waiter that has waited a while claims the turn, and no newcomer takes the lock
// while someone holds the turn.
bool takeWriteLock(int fd, const QDeadlineTimer& deadline, const std::function<void(std::chrono::microseconds)>& pause)
{
    QElapsedTimer waited;
    waited.start();
    bool haveTurn = false;
    int pauseUs = 0;
    for (;;) {
        if ((haveTurn || !takenByOther(fd, turnByte)) && lockByte(fd, writeByte, F_WRLCK)) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return true;
        }
        if (!haveTurn && waited.elapsed() >= turnAfterMs)
            haveTurn = lockByte(fd, turnByte, F_WRLCK);
        if (deadline.hasExpired()) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return false;
        }
        // Short pauses while the holder is likely to finish soon, longer ones after.
        pauseUs = std::min(pauseUs + 100, 2000);
        const std::chrono::microseconds wait(haveTurn ? 200 : pauseUs);
        if (pause)
            pause(wait);
        else
            QThread::usleep(wait.count());
    }
}

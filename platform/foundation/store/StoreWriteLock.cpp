#include "platform/foundation/store/StoreWriteLock_p.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace Tickerly::Foundation {

namespace {

// A turn holder polls every 0.2 ms: one that leaves the lock free this long is not running.
constexpr qint64 turnUnusedMs = 10;

} // namespace

std::optional<FileId> fileId(const QString& path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId { st.st_dev, st.st_ino };
}

bool lockByte(int fd, off_t byte, short type)
{
    struct flock fl { };
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

namespace {

bool takenByOther(int fd, off_t byte)
{
    struct flock fl { };
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

} // namespace

bool takeWriteLock(int fd, const QDeadlineTimer& deadline,
    const std::function<bool(std::chrono::microseconds)>& pause, qint64 turnAfter)
{
    QElapsedTimer waited;
    waited.start();
    // Since when the lock has been free while another waiter held the turn without taking it.
    QElapsedTimer turnUnused;
    bool haveTurn = false;
    int pauseUs = 0;
    for (;;) {
        const bool turnTaken = !haveTurn && takenByOther(fd, turnByte);
        const bool passOver
            = turnTaken && turnUnused.isValid() && turnUnused.elapsed() >= turnUnusedMs;
        if ((!turnTaken || passOver) && lockByte(fd, writeByte, F_WRLCK)) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return true;
        }
        if (turnTaken && !takenByOther(fd, writeByte)) {
            if (!turnUnused.isValid())
                turnUnused.start();
        } else {
            turnUnused.invalidate();
        }
        if (!haveTurn && waited.elapsed() >= turnAfter)
            haveTurn = lockByte(fd, turnByte, F_WRLCK);
        // Short pauses while the holder is likely to finish soon, longer ones after.
        pauseUs = std::min(pauseUs + 100, 2000);
        const std::chrono::microseconds wait(haveTurn || turnUnused.isValid() ? 200 : pauseUs);
        const bool goOn = !deadline.hasExpired()
            && (pause ? pause(wait) : (QThread::usleep(wait.count()), true));
        if (!goOn) {
            if (haveTurn)
                lockByte(fd, turnByte, F_UNLCK);
            return false;
        }
    }
}

} // namespace Tickerly::Foundation

#pragma once

#include "platform/foundation/Namespace.h"

#include <QDeadlineTimer>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>

namespace Tickerly::Foundation {

// The lock file beside a store's database, through which the writers of every process take
// turns: open-file-description locks on two of its bytes. Internal to TickerlyFoundation; plain
// functions, any thread (a thread shares the locks of its description with the process's others).

// Bytes of the lock file: the write lock, and the turn of a writer that has waited long.
inline constexpr off_t writeByte = 0;
inline constexpr off_t turnByte = 1;

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileId(const QString& path);

// Sets (F_WRLCK) or clears (F_UNLCK) the lock of `byte`, without waiting.
bool lockByte(int fd, off_t byte, short type);

// Takes the write lock of `fd` before `deadline`. Polling alone lets a busy writer win every
// round; so a waiter that has waited a while claims the turn, and no newcomer takes the lock
// while someone holds the turn. The turn is held only inside this wait; a turn held while the
// lock stays free (its holder stopped or hung) is passed over. `pause` (a plain sleep when
// empty) passes the time between tries; when it returns false the wait ends at once. The turn
// is claimed after `turnAfter` ms of waiting.
inline constexpr qint64 turnAfterMs = 20;
bool takeWriteLock(int fd, const QDeadlineTimer& deadline,
    const std::function<bool(std::chrono::microseconds)>& pause = {},
    qint64 turnAfter = turnAfterMs);

} // namespace Tickerly::Foundation

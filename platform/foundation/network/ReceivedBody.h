#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>

#include <vector>

namespace Tickerly::Foundation {

// The bytes of one answer's body as they arrive, in pieces of a few KiB. A body whose length was
// announced goes into one block of that size, made once; any other body goes into blocks that
// grow with it (each as large as everything before it), so nothing received is moved as it grows
// and the whole is put together once, when it is taken.
class TICKERLYFOUNDATION_EXPORT ReceivedBody {
public:
    // Makes room for `length` bytes, when nothing has arrived yet and `length` is positive. The
    // caller bounds `length` by what it would keep at all.
    void expect(qint64 length);
    void append(const char* data, qsizetype size);
    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    // Everything received, in one piece; the body is empty afterwards.
    QByteArray take();
    // Everything received, in the blocks it came into (the last cut to its size), for a reader
    // that takes a body in pieces: nothing is put together. The body is empty afterwards.
    std::vector<QByteArray> takeBlocks();
    void clear();

private:
    static constexpr qsizetype firstBlock = 16 * 1024;
    static constexpr qsizetype largestBlock = 4 * 1024 * 1024;
    std::vector<QByteArray> m_blocks; // all full but the last
    qint64 m_size = 0;
};

} // namespace Tickerly::Foundation

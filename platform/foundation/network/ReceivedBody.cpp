#include "platform/foundation/network/ReceivedBody.h"

#include <algorithm>
#include <cstring>

namespace Tickerly::Foundation {

void ReceivedBody::expect(qint64 length)
{
    if (m_size != 0 || length <= 0 || !m_blocks.empty())
        return;
    m_blocks.emplace_back().reserve(qsizetype(length));
}

void ReceivedBody::append(const char* data, qsizetype size)
{
    while (size > 0) {
        if (m_blocks.empty() || m_blocks.back().size() == m_blocks.back().capacity()) {
            const qsizetype next
                = std::clamp<qsizetype>(qsizetype(m_size), firstBlock, largestBlock);
            m_blocks.emplace_back().reserve(std::max(next, std::min(size, largestBlock)));
        }
        QByteArray& block = m_blocks.back();
        const qsizetype take = std::min(size, block.capacity() - block.size());
        block.append(data, take);
        data += take;
        size -= take;
        m_size += take;
    }
}

QByteArray ReceivedBody::take()
{
    QByteArray whole;
    if (m_blocks.size() == 1) {
        whole = std::move(m_blocks.front());
    } else if (m_blocks.size() > 1) {
        whole.resize(qsizetype(m_size));
        char* out = whole.data();
        for (const QByteArray& block : m_blocks) {
            std::memcpy(out, block.constData(), size_t(block.size()));
            out += block.size();
        }
    }
    clear();
    return whole;
}

std::vector<QByteArray> ReceivedBody::takeBlocks()
{
    std::vector<QByteArray> blocks = std::move(m_blocks);
    if (!blocks.empty())
        blocks.back().squeeze();
    clear();
    return blocks;
}

void ReceivedBody::clear()
{
    m_blocks.clear();
    m_size = 0;
}

} // namespace Tickerly::Foundation

#include "data/model/TopFeedSource.h"

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString hitsKey = u"hits"_s;
const QString sourceKey = u"source"_s;
const QString className = u"TickerlyDataMac.TopFeedSource"_s;
} // namespace

TopFeedSource::TopFeedSource(qint64 hits, std::shared_ptr<Source> source)
    : m_hits(hits)
    , m_source(std::move(source))
{
    Q_ASSERT(m_source);
}

std::shared_ptr<TopFeedSource> TopFeedSource::initWithCoder(const KeyedUnarchiver& coder)
{
    const qint64 hits = coder.decodeInteger(hitsKey).value_or(0);
    auto source = coder.decodeObject<Source>(sourceKey);
    if (!source)
        return nullptr;
    return std::make_shared<TopFeedSource>(hits, std::move(source));
}

void TopFeedSource::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeInteger(m_hits, hitsKey);
    if (m_source)
        coder.encodeObject(*m_source, sourceKey);
}

QString TopFeedSource::archivedClassName() const { return className; }

void TopFeedSource::registerArchiveClasses()
{
    Source::registerArchiveClasses();
    static std::once_flag once;
    std::call_once(once, [] {
        KeyedUnarchiver::registerClass(
            className, [](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                return initWithCoder(coder);
            });
    });
}

bool operator==(const TopFeedSource& a, const TopFeedSource& b)
{
    if (!a.source() || !b.source())
        return a.source() == b.source();
    return *a.source() == *b.source();
}

} // namespace Tickerly::Data

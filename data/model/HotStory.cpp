#include "data/model/HotStory.h"

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString canonicalUrlKey = u"canonicalUrl"_s;
const QString hitsKey = u"hits"_s;
const QString className = u"TickerlyDataMac.HotStory"_s;
} // namespace

HotStory::HotStory(Url canonicalUrl, qint64 hits)
    : m_canonicalUrl(std::move(canonicalUrl))
    , m_hits(hits)
{
}

std::shared_ptr<HotStory> HotStory::initWithCoder(const KeyedUnarchiver& coder)
{
    auto canonicalUrl = coder.decodeUrl(canonicalUrlKey);
    if (!canonicalUrl)
        return nullptr;
    return std::make_shared<HotStory>(
        std::move(*canonicalUrl), coder.decodeInteger(hitsKey).value_or(0));
}

void HotStory::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeUrl(m_canonicalUrl, canonicalUrlKey);
    coder.encodeInteger(m_hits, hitsKey);
}

QString HotStory::archivedClassName() const { return className; }

void HotStory::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        KeyedUnarchiver::registerClass(
            className, [](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                return initWithCoder(coder);
            });
    });
}

} // namespace Tickerly::Data

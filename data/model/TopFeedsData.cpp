#include "data/model/TopFeedsData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString storedTopFeedsKey = u"velmora.StoredTopFeeds"_s;

TopFeedsData::TopFeedList topFeedsFromValue(const std::optional<QVariant>& value)
{
    TopFeedSource::registerArchiveClasses();
    return archivedList<TopFeedSource>(archivedBytes(value), u"popular feed"_s);
}

} // namespace

TopFeedsData::TopFeedsData(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
{
}

TopFeedsData::TopFeedList TopFeedsData::topFeeds() const
{
    const QVariant value = m_localStore->value(storedTopFeedsKey);
    return topFeedsFromValue(value.isValid() ? std::optional<QVariant>(value) : std::nullopt);
}

void TopFeedsData::setTopFeeds(const TopFeedList& topFeeds)
{
    m_localStore->set(storedTopFeedsKey, KeyedArchiver::archivedDataWithRootObjects(topFeeds));
    m_localStore->synchronize();
}

void TopFeedsData::modifyTopFeeds(const std::function<void(TopFeedList&)>& change)
{
    changeTopFeeds([&](TopFeedList& list) {
        change(list);
        return true;
    });
}

void TopFeedsData::updateFeed(const std::shared_ptr<TopFeedSource>& feed)
{
    if (!feed)
        return;
    changeTopFeeds([&](TopFeedList& list) {
        for (auto& entry : list) {
            if (*entry == *feed) {
                entry = feed;
                return true;
            }
        }
        return false;
    });
}

void TopFeedsData::changeTopFeeds(const std::function<bool(TopFeedList&)>& change)
{
    m_localStore->update(storedTopFeedsKey, [&](const std::optional<QVariant>& current) -> std::optional<QVariant> {
        TopFeedList list = topFeedsFromValue(current);
        if (!change(list))
            return std::nullopt;
        return QVariant(KeyedArchiver::archivedDataWithRootObjects(list));
    });
    m_localStore->synchronize();
}

#include "data/model/TopFeedsData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/Shared.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
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

UserDefaults::Outcome TopFeedsData::setTopFeeds(const TopFeedList& topFeeds)
{
    const auto outcome = m_localStore->set(
        storedTopFeedsKey, KeyedArchiver::archivedDataWithRootObjects(topFeeds));
    m_localStore->synchronize();
    return outcome;
}

UserDefaults::Outcome TopFeedsData::modifyTopFeeds(std::function<void(TopFeedList&)> change)
{
    return changeTopFeeds([change = std::move(change)](TopFeedList& list) {
        change(list);
        return true;
    });
}

UserDefaults::Outcome TopFeedsData::updateFeed(const std::shared_ptr<TopFeedSource>& feed)
{
    if (!feed)
        return UserDefaults::Outcome::Done;
    // Copied through its archive here: the caller's record may change on while a kept change waits.
    TopFeedSource::registerArchiveClasses();
    const auto copy = KeyedUnarchiver::unarchiveObjectWithData<TopFeedSource>(
        KeyedArchiver::archivedDataWithRootObject(*feed));
    if (!copy)
        return UserDefaults::Outcome::Failed;
    return changeTopFeeds([copy](TopFeedList& list) {
        for (auto& entry : list) {
            if (*entry == *copy) {
                entry = copy;
                return true;
            }
        }
        return false;
    });
}

UserDefaults::Outcome TopFeedsData::changeTopFeeds(std::function<bool(TopFeedList&)> change)
{
    const auto outcome = m_localStore->updateOrKeep(storedTopFeedsKey,
        [change = std::move(change)](
            const std::optional<QVariant>& current) -> std::optional<QVariant> {
            TopFeedList list = topFeedsFromValue(current);
            if (!change(list))
                return std::nullopt;
            return QVariant(KeyedArchiver::archivedDataWithRootObjects(list));
        });
    m_localStore->synchronize();
    return outcome;
}

} // namespace Tickerly::Data

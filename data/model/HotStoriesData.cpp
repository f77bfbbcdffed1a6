#include "data/model/HotStoriesData.h"

#include "data/model/ArchivedList_p.h"
#include "data/model/NewsStory.h"
#include "data/model/Shared.h"

#include <algorithm>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString hotStoriesKey = u"velmora.Tickerly.HotStories"_s;

HotStoriesData::HotStoryList hotStoriesFromValue(const QVariant& value)
{
    HotStory::registerArchiveClasses();
    return archivedList<HotStory>(archivedBytes(value), u"hot story"_s);
}

} // namespace

HotStoriesData::HotStoriesData(std::shared_ptr<UserDefaults> localStore)
    : m_localStore(localStore ? std::move(localStore) : sharedDefaults())
    , m_hotStories(hotStoriesFromValue(m_localStore->value(hotStoriesKey)))
{
}

UserDefaults::Outcome HotStoriesData::setHotStories(const HotStoryList& hotStories)
{
    m_hotStories = hotStories;
    const auto outcome = m_localStore->set(
        hotStoriesKey, KeyedArchiver::archivedDataWithRootObjects(m_hotStories));
    m_localStore->synchronize();
    return outcome;
}

UserDefaults::Outcome HotStoriesData::modifyHotStories(std::function<void(HotStoryList&)> change)
{
    auto changed = std::make_shared<HotStoryList>();
    const auto outcome = m_localStore->updateOrKeep(hotStoriesKey,
        [change, changed](const std::optional<QVariant>& current) -> std::optional<QVariant> {
            *changed = hotStoriesFromValue(current.value_or(QVariant()));
            change(*changed);
            return QVariant(KeyedArchiver::archivedDataWithRootObjects(*changed));
        });
    m_localStore->synchronize();
    if (outcome == UserDefaults::Outcome::Done)
        m_hotStories = *changed;
    else
        change(m_hotStories);
    return outcome;
}

bool HotStoriesData::isStoryHot(const NewsStory& story) const
{
    const auto& link = story.link();
    if (!link)
        return false;
    return std::any_of(
        m_hotStories.cbegin(), m_hotStories.cend(), [&](const std::shared_ptr<HotStory>& hot) {
            return hot->canonicalUrl().absoluteString() == link->absoluteString();
        });
}

} // namespace Tickerly::Data

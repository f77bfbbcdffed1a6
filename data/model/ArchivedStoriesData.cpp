#include "data/model/ArchivedStoriesData.h"

#include "data/model/Shared.h"
#include "data/model/StateList_p.h"

#include <algorithm>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString archivedStoriesKey = u"velmora.Tickerly.archivedStoriesKey"_s;
const QString storyKey = u"story"_s;
const QString stateKey = u"state"_s;
// Frozen: stored lists of every version read with it.
const QString recordClassName = u"TickerlyDataMac.ArchivedStoriesData.StateDescription"_s;

std::optional<Url> linkOf(const ArchivedStoriesData::StateDescription& record)
{
    return record.story ? record.story->link() : std::nullopt;
}
} // namespace

ArchivedStoriesData::StateDescription::StateDescription(
    std::shared_ptr<NewsStory> newsStory, StoryState storyState)
    : story(std::move(newsStory))
    , state(storyState)
{
}

std::shared_ptr<ArchivedStoriesData::StateDescription>
ArchivedStoriesData::StateDescription::initWithCoder(const KeyedUnarchiver& coder)
{
    auto story = coder.decodeObject<NewsStory>(storyKey);
    const auto raw = coder.decodeInteger(stateKey);
    const auto state = raw ? storyStateFromRawValue(*raw) : std::nullopt;
    if (!story || !state)
        return nullptr;
    return std::make_shared<StateDescription>(std::move(story), *state);
}

void ArchivedStoriesData::StateDescription::encodeWithCoder(KeyedArchiver& coder) const
{
    if (story)
        coder.encodeObject(*story, storyKey);
    coder.encodeInteger(rawValue(state), stateKey);
}

QString ArchivedStoriesData::StateDescription::archivedClassName() const { return recordClassName; }

void ArchivedStoriesData::registerArchiveClasses()
{
    NewsStory::registerArchiveClasses();
    StateLists::registerRecordClass<StateDescription>(recordClassName);
}

namespace {
// A state set while another program held the store, kept when this one ended, is set at the next
// opening from the journal.
const auto storedList = StateLists::registeredList<ArchivedStoriesData::StateDescription>(
    { archivedStoriesKey, linkOf, &ArchivedStoriesData::registerArchiveClasses });
} // namespace

ArchivedStoriesData::ArchivedStoriesData(std::shared_ptr<UserDefaults> localStore)
    : m_states(localStore ? std::move(localStore) : sharedDefaults(), storedList)
{
}

UserDefaults::Outcome ArchivedStoriesData::setState(
    const std::shared_ptr<NewsStory>& story, StoryState state)
{
    const std::optional<Url> link = story ? story->link() : std::nullopt;
    std::shared_ptr<StateDescription> record;
    if (state != StoryState::None && link)
        record = std::make_shared<StateDescription>(story, state);
    return m_states.setState(link, record);
}

StoryState ArchivedStoriesData::stateForStory(const NewsStory& story)
{
    return story.link() ? stateForLink(story.link()->absoluteString()) : StoryState::None;
}

StoryState ArchivedStoriesData::stateForLink(const QString& link)
{
    return m_states.stateForLink(link);
}

std::optional<QDateTime> ArchivedStoriesData::suggestedMaxAge()
{
    const StateDescriptions& list = m_states.records();
    if (list.size() < StateLists::maxStoredStates)
        return std::nullopt;
    const auto oldest = std::min_element(list.begin(), list.end(),
        [](const auto& a, const auto& b) { return *a->story < *b->story; });
    return (*oldest)->story->date();
}

QList<std::shared_ptr<NewsStory>> ArchivedStoriesData::storiesWithState(StoryState state)
{
    return storiesMatchingPredicate(
        [state](const StateDescription& record) { return record.state == state; });
}

QList<std::shared_ptr<NewsStory>> ArchivedStoriesData::storiesMatchingPredicate(
    const std::function<bool(const StateDescription&)>& predicate)
{
    QList<std::shared_ptr<NewsStory>> stories;
    for (const auto& record : m_states.records()) {
        if (predicate(*record))
            stories.append(record->story);
    }
    return stories;
}

void ArchivedStoriesData::flushCache() { m_states.flush(); }

} // namespace Tickerly::Data

#include "data/model/StoryStateData.h"

#include "data/model/Shared.h"
#include "data/model/StateList_p.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString statedStoriesKey = u"velmora.Tickerly.statedStoriesKey"_s;
const QString storyLinkKey = u"storyLink"_s;
const QString stateKey = u"state"_s;
// Frozen: the application and the widget, of any version, read each other's records.
const QString recordClassName = u"TickerlyDataMac.StoryStateData.StateDescription"_s;

std::optional<Url> linkOf(const StoryStateData::StateDescription& record)
{
    return record.storyLink;
}
} // namespace

StoryStateData::StateDescription::StateDescription(Url link, StoryState storyState)
    : storyLink(std::move(link))
    , state(storyState)
{
}

std::shared_ptr<StoryStateData::StateDescription> StoryStateData::StateDescription::initWithCoder(
    const KeyedUnarchiver& coder)
{
    const StoryState state = storyStateFromRawValue(coder.decodeInteger(stateKey).value_or(0))
                                 .value_or(StoryState::None);
    auto record = std::make_shared<StateDescription>(Url(), state);
    record->storyLink = coder.decodeUrl(storyLinkKey);
    return record;
}

void StoryStateData::StateDescription::encodeWithCoder(KeyedArchiver& coder) const
{
    if (storyLink)
        coder.encodeUrl(*storyLink, storyLinkKey);
    coder.encodeInteger(rawValue(state), stateKey);
}

QString StoryStateData::StateDescription::archivedClassName() const { return recordClassName; }

void StoryStateData::registerArchiveClasses()
{
    StateLists::registerRecordClass<StateDescription>(recordClassName);
}

namespace {
// A state set while another program held the store, kept when this one ended, is set at the next
// opening from the journal.
const auto storedList = StateLists::registeredList<StoryStateData::StateDescription>(
    { statedStoriesKey, linkOf, &StoryStateData::registerArchiveClasses });
} // namespace

StoryStateData::StoryStateData(std::shared_ptr<UserDefaults> localStore)
    : m_states(localStore ? std::move(localStore) : sharedDefaults(), storedList)
{
}

QString StoryStateData::keptChangeNotification() { return StateLists::keptStateNotification(); }

QString StoryStateData::refusedChangeKey() { return StateLists::refusedKey(); }

UserDefaults::Outcome StoryStateData::setState(const NewsStory& story, StoryState state)
{
    const std::optional<Url>& link = story.link();
    std::shared_ptr<StateDescription> record;
    if (state != StoryState::None && link)
        record = std::make_shared<StateDescription>(*link, state);
    return m_states.setState(link, record);
}

StoryState StoryStateData::stateForLink(const QString& link)
{
    return link.isEmpty() ? StoryState::None : m_states.stateForLink(link);
}

StoryState StoryStateData::stateForStory(const NewsStory& story)
{
    return story.link() ? stateForLink(story.link()->absoluteString()) : StoryState::None;
}

void StoryStateData::flushCache() { m_states.flush(); }

} // namespace Tickerly::Data

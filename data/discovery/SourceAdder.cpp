#include "data/discovery/SourceAdder.h"

#include "data/discovery/IconLoading.h"
#include "data/discovery/IconLoading_p.h"
#include "data/discovery/SourceCreator.h"
#include "data/model/Shared.h"
#include "data/model/Source.h"
#include "data/model/SourcesData.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/store/UserDefaults.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;

namespace {

// The feed as the icon search should mark it: under the title it was stored with when its
// address was there already, so a source found without an icon keeps that title.
std::shared_ptr<Source> storedUnderItsTitle(
    const SourcesData& sources, const std::shared_ptr<Source>& found)
{
    const auto stored = sources.sourceWithLink(found->link());
    if (!stored || stored->title() == found->title())
        return found;
    auto kept = std::make_shared<Source>(stored->title(), stored->link());
    kept->sourceLink = found->sourceLink;
    kept->feedParser = found->feedParser;
    return kept;
}

} // namespace

SourceAdder::SourceAdder(
    std::shared_ptr<UrlSession> session, std::shared_ptr<UserDefaults> userDefaults)
    : m_session(session ? std::move(session) : UrlSession::create())
    , m_userDefaults(userDefaults ? std::move(userDefaults) : sharedDefaults())
{
}

void SourceAdder::addSource(const QString& link, std::function<void(bool)> completion) const
{
    addSource(link, std::function<void(Outcome)>([completion](Outcome outcome) {
        if (completion)
            completion(outcome == Outcome::Added || outcome == Outcome::HeldInMemory);
    }));
}

void SourceAdder::addSource(const QString& link, std::function<void(Outcome)> completion) const
{
    SourceAdder self = *this;
    SourceCreator::createSource(
        link, m_session, [self, completion](std::shared_ptr<Source> source) {
            MainQueue::dispatchAsync([self, completion, source] {
                if (!source) {
                    if (completion)
                        completion(Outcome::NotFound);
                    return;
                }
                // Stored before the caller hears of it; the icon search starts only after. A change
                // kept for later still lands; one the store refused is no addition.
                SourcesData sources(self.m_userDefaults);
                const auto stored = sources.addSource(source);
                if (stored == UserDefaults::Outcome::Failed) {
                    if (completion)
                        completion(Outcome::NotStored);
                    return;
                }
                if (completion)
                    completion(stored == UserDefaults::Outcome::HeldInMemory ? Outcome::HeldInMemory
                                                                             : Outcome::Added);
                self.fetchIcon(storedUnderItsTitle(sources, source));
            });
        });
}

void SourceAdder::fetchIcon(const std::shared_ptr<Source>& source) const
{
    auto sourcesData = std::make_shared<SourcesData>(m_userDefaults);
    loadImageForSource(source, [source, sourcesData](std::optional<QImage> image) {
        storeIconSearchOutcome(source, std::move(image), sourcesData);
    });
}

} // namespace Tickerly::Data

#include "data/discovery/IconLoading.h"

#include "data/discovery/IconLoading_p.h"
#include "data/model/Source.h"
#include "data/model/SourceIconData.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/OperationQueue.h"

#include <QLoggingCategory>

#include <utility>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcIconLoading, "tickerly.icons")

// How long a failed search's mark may wait for others to be stored with it.
constexpr double kGatherSeconds = 1.0;

// The outcomes of one sweep's searches, stored together: the marks wait until every search has
// ended, or at most kGatherSeconds after the first unstored one, so a thousand failed searches
// rewrite the stored list a few times, not a thousand. Made on the sweep's queue, then used on
// the main queue only.
class IconSweep : public std::enable_shared_from_this<IconSweep> {
public:
    IconSweep(std::shared_ptr<SourcesData> store, qsizetype searches)
        : m_store(std::move(store))
        , m_running(searches)
    {
    }

    // `link` is empty when the search found an icon.
    void searchEnded(const QString& link)
    {
        --m_running;
        if (!link.isEmpty())
            m_unstored << link;
        if (m_running <= 0) {
            storeMarks();
        } else if (!m_unstored.isEmpty() && !m_storeScheduled) {
            m_storeScheduled = true;
            MainQueue::dispatchAfter(kGatherSeconds, [self = shared_from_this()] {
                self->m_storeScheduled = false;
                self->storeMarks();
            });
        }
    }

private:
    void storeMarks()
    {
        if (m_unstored.isEmpty())
            return;
        const QStringList links = std::exchange(m_unstored, {});
        // A refused write loses only the marks: the next start searches those icons again.
        if (m_store->markSourcesWithoutIcon(links) == UserDefaults::Outcome::Failed)
            qCWarning(lcIconLoading)
                << "the store refused the marks of" << links.size() << "sources without an icon";
    }

    const std::shared_ptr<SourcesData> m_store;
    qsizetype m_running;
    QStringList m_unstored;
    bool m_storeScheduled = false;
};

// Opening a thousand icon files is no work for the main thread.
OperationQueue& sweepQueue()
{
    // Lives to the end of the process: a sweep may still be queued when the program ends.
    static auto* queue = new OperationQueue(u"icon sweep"_s);
    return *queue;
}

} // namespace

void findMissingIcons(const SourcesData& sourcesData)
{
    findMissingIcons(sourcesData.sources(), sourcesData);
}

void findMissingIcons(const QList<std::shared_ptr<Source>>& sources, const SourcesData& sourcesData)
{
    // Copies: the caller's objects stay on the caller's thread.
    QList<std::shared_ptr<Source>> unmarked;
    for (const std::shared_ptr<Source>& source : sources) {
        if (!source || source->noIconFound)
            continue;
        unmarked << std::make_shared<Source>(*source);
    }
    if (unmarked.isEmpty())
        return;
    sweepQueue().addOperation([store = std::make_shared<SourcesData>(sourcesData), unmarked] {
        QList<std::shared_ptr<Source>> missing;
        for (const std::shared_ptr<Source>& source : unmarked) {
            if (!SourceIconData::hasIconForSource(*source))
                missing << source;
        }
        if (missing.isEmpty())
            return;
        auto sweep = std::make_shared<IconSweep>(store, missing.size());
        for (const std::shared_ptr<Source>& source : missing) {
            loadImageForSource(source, [sweep, source](std::optional<QImage> image) {
                QString unmarkedLink;
                if (image)
                    SourceIconData::setIconForSource(source, *image);
                else
                    unmarkedLink = source->link();
                MainQueue::dispatchAsync(
                    [sweep, unmarkedLink] { sweep->searchEnded(unmarkedLink); });
            });
        }
    });
}

void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::shared_ptr<SourcesData> sourcesData)
{
    const QString link = source->link();
    storeIconSearchOutcome(source, std::move(image), [link, sourcesData = std::move(sourcesData)] {
        // Only the mark: the source may have been renamed since the search began.
        if (sourcesData->markSourcesWithoutIcon({ link }) == UserDefaults::Outcome::Failed)
            qCWarning(lcIconLoading) << "the store refused the mark of" << link;
    });
}

void storeIconSearchOutcome(const std::shared_ptr<Source>& source, std::optional<QImage> image,
    std::function<void()> saveMarked)
{
    if (image) {
        SourceIconData::setIconForSource(source, *image);
        return;
    }
    // The list may have changed since the search began; the stores' updates only touch
    // entries still there, and the main queue keeps them from racing the application's changes.
    MainQueue::dispatchAsync([source, saveMarked = std::move(saveMarked)] {
        source->noIconFound = true;
        saveMarked();
    });
}

} // namespace Tickerly::Data

// Loading a story's image: kept apart from the record itself, as it reaches the network.

#include "data/model/NewsStory.h"

#include "data/discovery/ImageFetcher.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/network/UrlSession.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;

std::shared_ptr<UrlSessionDataTask> NewsStory::loadImage(std::shared_ptr<UrlSession> session,
    std::function<void()> willLoadImage, std::function<void()> completion)
{
    // The pending load keeps the story until it has set the image; a story no shared pointer
    // owns could be gone by then, so it loads nothing.
    std::shared_ptr<NewsStory> self = weak_from_this().lock();
    if (!self) {
        qWarning(
            "NewsStory::loadImage: the story is not held by a shared pointer; nothing is loaded");
        return nullptr;
    }
    if (!session)
        session = UrlSession::create();
    auto finish = [self = std::move(self), completion](std::optional<QImage> loaded) {
        self->setImage(loaded.value_or(QImage()));
        if (completion)
            completion();
    };
    if (const std::optional<Url> imageUrl = imageLink()) {
        if (willLoadImage)
            willLoadImage();
        return Tickerly::Data::loadImage(*session, *imageUrl, std::move(finish));
    }
    if (m_link)
        return ImageFetcher::fetchImage(
            *m_link, std::move(session), std::move(willLoadImage), std::move(finish));
    // Nothing to load: an image in hand is the answer. A load, when one starts, answers once
    // when it ends, never also here.
    if (!image().isNull() && completion)
        completion();
    return nullptr;
}

} // namespace Tickerly::Data

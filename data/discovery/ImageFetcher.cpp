#include "data/discovery/ImageFetcher.h"

#include "data/model/Shared.h"
#include "data/sync/StringExtensions.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/network/UrlSession.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

std::shared_ptr<UrlSessionDataTask> ImageFetcher::fetchImage(const Url& forURL,
    std::shared_ptr<UrlSession> session, std::function<void()> willLoadImage, Completion completion)
{
    auto fetcher = std::make_shared<ImageFetcher>(forURL, std::move(session));
    return fetcher->getImage(std::move(willLoadImage), std::move(completion));
}

ImageFetcher::ImageFetcher(Url url, std::shared_ptr<UrlSession> session)
    : m_url(std::move(url))
    , m_session(session ? std::move(session) : UrlSession::create())
{
}

std::shared_ptr<UrlSessionDataTask> ImageFetcher::getImage(
    std::function<void()> willLoadImage, Completion completion)
{
    auto self = shared_from_this();
    return loadSource(*m_session, SiteVersion::Desktop, m_url,
        [self, willLoadImage = std::move(willLoadImage), completion = std::move(completion)](
            std::optional<QString> page) {
            if (!page) {
                if (completion)
                    completion(std::nullopt);
                return;
            }
            self->getImage(*page, willLoadImage, completion);
        });
}

void ImageFetcher::getImage(
    const QString& source, std::function<void()> willLoadImage, Completion completion)
{
    tryMethods({ std::make_shared<FacebookShareImageFetcher>(*this, source),
                   std::make_shared<TwitterCardsImageFetcher>(*this, source) },
        std::move(willLoadImage), std::move(completion));
}

void ImageFetcher::tryMethods(QList<std::shared_ptr<ImageFetcherMethod>> methods,
    std::function<void()> willLoadImage, Completion completion)
{
    if (methods.isEmpty()) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    const auto method = methods.takeFirst();
    debugprint(u"Trying to get image from "_s + m_url.absoluteString() + u" by "_s
        + method->description());
    auto self = shared_from_this();
    method->tryImage(willLoadImage,
        [self, method, rest = std::move(methods), willLoadImage, completion](
            std::optional<QImage> image) {
            if (image) {
                if (completion)
                    completion(std::move(image));
                return;
            }
            self->tryMethods(rest, willLoadImage, completion);
        });
}

ImageFetcherMethod::ImageFetcherMethod(ImageFetcher& owner, QString page)
    : fetcher(owner)
    , source(markupOutsideScripts(page))
{
}

ImageFetcherMethod::~ImageFetcherMethod() = default;

void ImageFetcherMethod::tryImage(
    std::function<void()> willLoadImage, ImageFetcher::Completion completion)
{
    const std::optional<Url> link = imageLink();
    if (!link) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    if (willLoadImage)
        willLoadImage();
    loadImage(*fetcher.session(), *link, std::move(completion));
}

std::optional<Url> ImageFetcherMethod::linkOfTag(const QString& pattern) const
{
    const std::optional<QString> tag = find(source, pattern);
    if (!tag)
        return std::nullopt;
    return findQuotedLink(*tag, fetcher.url());
}

std::optional<Url> FacebookShareImageFetcher::linkRelImageSrcLink() const
{
    return linkOfTag(u"<link[^>]*rel=[\"']image_src[\"'][^>]*"_s);
}

std::optional<Url> FacebookShareImageFetcher::metaOgImageLink() const
{
    return linkOfTag(u"<meta[^>]*property=[\"']og:image[\"'][^>]*"_s);
}

std::optional<Url> FacebookShareImageFetcher::imageLink() const
{
    if (auto link = linkRelImageSrcLink())
        return link;
    return metaOgImageLink();
}

QString FacebookShareImageFetcher::description() const { return u"the page's sharing image"_s; }

std::optional<Url> TwitterCardsImageFetcher::twitterImageSrcLink() const
{
    return linkOfTag(u"<meta[^>]*name=[\"']twitter:image:src[\"'][^>]*"_s);
}

std::optional<Url> TwitterCardsImageFetcher::imageLink() const { return twitterImageSrcLink(); }

QString TwitterCardsImageFetcher::description() const { return u"the page's card image"_s; }

} // namespace Tickerly::Data

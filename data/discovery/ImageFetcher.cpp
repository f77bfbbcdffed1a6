#include "data/discovery/ImageFetcher.h"

#include "data/model/Shared.h"
#include "data/sync/StringExtensions.h"
#include "data/sync/UrlSessionExtensions.h"
#include "platform/foundation/UrlSession.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// "script" or "style" when `tag` opens one of them: what they hold is no markup.
std::optional<QStringView> rawTextElement(QStringView tag)
{
    for (const QStringView name : { u"script", u"style" }) {
        if (tag.size() <= name.size()
            || tag.sliced(1, name.size()).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (tag.size() == name.size() + 1
            || QStringView(u" \t\n\r\f/>").contains(tag[name.size() + 1]))
            return name;
    }
    return std::nullopt;
}

// The page with every comment and every script and style element (an unclosed one to the end)
// replaced by a space: an address a script builds or a comment keeps is not the page's picture.
QString markupOutsideScripts(const QString& page)
{
    const QStringView text(page);
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(u'<', i);
        if (open < 0) {
            out.append(text.sliced(i));
            break;
        }
        out.append(text.sliced(i, open - i));
        const QStringView tag = text.sliced(open);
        qsizetype end = -1;
        if (tag.startsWith(u"<!--")) {
            end = text.indexOf(u"-->", open + 2);
            end = end < 0 ? text.size() : end + 3;
        } else if (const auto element = rawTextElement(tag)) {
            const qsizetype close
                = text.indexOf(u"</"_s + element->toString(), open + 1, Qt::CaseInsensitive);
            end = close < 0 ? -1 : text.indexOf(u'>', close);
            end = end < 0 ? text.size() : end + 1;
        }
        if (end < 0) {
            out.append(u'<');
            i = open + 1;
        } else {
            out.append(u' ');
            i = end;
        }
    }
    return out;
}

} // namespace

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
    return loadSource(*m_session, false, m_url,
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

#pragma once

#include "data/Namespace.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Foundation {
class UrlSession;
class UrlSessionDataTask;
} // namespace Tickerly::Foundation

namespace Tickerly::Data {

class ImageFetcherMethod;

// Finds a picture for a story that has none: loads the article page (as a desktop browser) and
// downloads the image the page declares for sharing: its "image_src" link, else its "og:image",
// else its "twitter:image:src". The first rule that yields an image wins.
//
// One fetcher serves one article. It keeps itself alive through its own pending loads until its
// completion has run; everything runs on the session's delegate queue.
class TICKERLYDATAMAC_EXPORT ImageFetcher : public std::enable_shared_from_this<ImageFetcher> {
public:
    using Completion = std::function<void(std::optional<QImage>)>;

    // Starts the search for the article at `url` through `session` (a new session with the
    // default configuration when null) and returns the started page load. `completion` runs
    // exactly once, with the image or with nothing; `willLoadImage` runs before each image
    // download. An address holding ".mp4" is not loaded: `completion` gets nothing before this
    // returns null.
    static std::shared_ptr<Foundation::UrlSessionDataTask> fetchImage(const Foundation::Url& forURL,
        std::shared_ptr<Foundation::UrlSession> session = nullptr,
        std::function<void()> willLoadImage = {}, Completion completion = {});

    ImageFetcher(Foundation::Url url, std::shared_ptr<Foundation::UrlSession> session);

    const Foundation::Url& url() const { return m_url; }
    const std::shared_ptr<Foundation::UrlSession>& session() const { return m_session; }

    // Loads the page and searches it; the page load, or null when the page is not loaded.
    std::shared_ptr<Foundation::UrlSessionDataTask> getImage(
        std::function<void()> willLoadImage, Completion completion);
    // Searches page text already in hand.
    void getImage(
        const QString& source, std::function<void()> willLoadImage, Completion completion);
    // Tries `methods` in order until one yields an image.
    void tryMethods(QList<std::shared_ptr<ImageFetcherMethod>> methods,
        std::function<void()> willLoadImage, Completion completion);

private:
    Foundation::Url m_url;
    std::shared_ptr<Foundation::UrlSession> m_session;
};

// One rule for finding the image in a page. Refers to its fetcher without owning it: a method
// never outlives the fetcher's search.
class TICKERLYDATAMAC_EXPORT ImageFetcherMethod {
public:
    ImageFetcherMethod(ImageFetcher& fetcher, QString source);
    virtual ~ImageFetcherMethod();

    // Finds the rule's image address; with one, runs `willLoadImage` and downloads it. The
    // completion gets the image, or nothing.
    virtual void tryImage(std::function<void()> willLoadImage, ImageFetcher::Completion completion);
    virtual QString description() const = 0;

protected:
    // The rule's address in the page, or nothing.
    virtual std::optional<Foundation::Url> imageLink() const = 0;
    // The link of the first tag in the page that matches `pattern`.
    std::optional<Foundation::Url> linkOfTag(const QString& pattern) const;

    ImageFetcher& fetcher;
    // The page's markup outside scripts, styles and comments.
    const QString source;
};

// The image a page offers for link sharing: its "image_src" link, else its "og:image".
class TICKERLYDATAMAC_EXPORT FacebookShareImageFetcher : public ImageFetcherMethod {
public:
    using ImageFetcherMethod::ImageFetcherMethod;
    std::optional<Foundation::Url> linkRelImageSrcLink() const;
    std::optional<Foundation::Url> metaOgImageLink() const;
    QString description() const override;

protected:
    std::optional<Foundation::Url> imageLink() const override;
};

// The image of a page's card for short posts: its "twitter:image:src".
class TICKERLYDATAMAC_EXPORT TwitterCardsImageFetcher : public ImageFetcherMethod {
public:
    using ImageFetcherMethod::ImageFetcherMethod;
    std::optional<Foundation::Url> twitterImageSrcLink() const;
    QString description() const override;

protected:
    std::optional<Foundation::Url> imageLink() const override;
};

} // namespace Tickerly::Data

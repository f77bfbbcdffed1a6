#include "data/discovery/ImageFetcher.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

// The image rules over a page's markup; the fetcher's session is made but never used.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "imagefetcher_fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    const QString page
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static ImageFetcher fetcher(
        *Url::fromString(QStringLiteral("http://news.example/a/story.html")), nullptr);
    (void)FacebookShareImageFetcher(fetcher, page).linkRelImageSrcLink();
    (void)FacebookShareImageFetcher(fetcher, page).metaOgImageLink();
    (void)TwitterCardsImageFetcher(fetcher, page).twitterImageSrcLink();
    return 0;
}

#include "data/discovery/IconFetcher.h"

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

// The icon rules over a page's markup, and the artwork walk over the same bytes read as JSON;
// the fetcher's session is made but never used.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "iconfetcher_fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static IconFetcher fetcher(
        *Url::fromString(QStringLiteral("http://news.example/news/")), nullptr);
    const QString page
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)YoutubeMethod::thumbnailURL(page, fetcher.url());
    (void)AppIconMethod(fetcher, page).findMetaTagAppId();
    (void)TouchIconMethod(fetcher, page).findTouchIconLink();
    (void)ShortcutIconMethod(fetcher, page).findShortcutIconLink();
    if (const auto json = nlohmann::json::parse(data, data + size, nullptr, false);
        !json.is_discarded())
        (void)AppIconMethod::getIconUrl(json);
    return 0;
}

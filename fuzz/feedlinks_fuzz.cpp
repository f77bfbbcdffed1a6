#include "data/discovery/FeedLinkRules.h"

#include <cstddef>
#include <cstdint>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

// The first line is a typed text (also used as the creator's link), the rest a web page.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input
        = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lineEnd = input.indexOf(u'\n');
    const QString text = lineEnd < 0 ? input : input.left(lineEnd),
                  page = lineEnd < 0 ? input : input.mid(lineEnd + 1);
    static const auto from
        = *Url::fromString(QStringLiteral("http://news.example.com/section/page.html"));
    (void)FeedLinkRules::httpLinkFromString(text, text),
        (void)FeedLinkRules::httpLinkFromString(page.left(200), text);
    if (const auto url = FeedLinkRules::findRssLink(page, from))
        (void)FeedLinkRules::equalURLs(*url, FeedLinkRules::findRssLink(page, *url).value_or(from));
    return 0;
}

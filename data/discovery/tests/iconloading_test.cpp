#include "data/discovery/IconLoading.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(IconLoading, FindBaseURLKeepsTheSchemeAndTheSitesDomain)
{
    const QList<QPair<QString, std::optional<QString>>> cases {
        { u"http://news.example.com/rss"_s, u"http://example.com"_s },
        { u"https://feeds.example.co.uk/news/rss.xml"_s, u"https://example.co.uk"_s },
        { u"http://news.example.com.au/feed"_s, u"http://com.au"_s },
        { u"http://feeds.my-site.com/rss"_s, u"http://site.com"_s },
        { u"http://example.com:8080/rss"_s, std::nullopt },
        { u"example.com/rss"_s, std::nullopt },
    };
    for (const auto& [link, expected] : cases) {
        const auto url = findBaseURL(link);
        EXPECT_EQ(url ? std::optional(url->absoluteString()) : std::nullopt, expected) << link.toStdString();
    }
}

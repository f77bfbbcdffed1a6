#pragma once

#include "storylist/Namespace.h"
#include "data/model/Source.h"
#include "data/model/SourcesData.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QDateTime>

#include <memory>

namespace Tickerly::StoryList {

namespace StoryListTest {

// One feed source of `count` stories ("Story 0" newest), served from loopback under the host
// name the source's link gives, so that a refresh of the list downloads real stories.
class FeedSource {
public:
    explicit FeedSource(int count)
    {
        Foundation::UrlSessionTesting::mapToLoopback(
            QStringLiteral("http"), QStringLiteral("feeds.example.test"), 80, server.port());
        QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
        for (int i = 0; i < count; ++i) {
            const QByteArray n = QByteArray::number(i);
            doc += "<item><title>Story " + n + "</title><link>http://site.example.test/" + n
                + "</link><description>The body of story " + n + ".</description><pubDate>"
                + QDateTime::fromSecsSinceEpoch(1700000000 - i * 3600, Qt::UTC)
                      .toString(Qt::RFC2822Date)
                      .toUtf8()
                + "</pubDate></item>";
        }
        TestSupport::ScriptedReply reply;
        reply.body = doc + "</channel></rss>";
        reply.headers = { { "Content-Type", "application/rss+xml" } };
        server.reply(QStringLiteral("/feed"), reply);
        (void)Data::SourcesData().addSource(std::make_shared<Data::Source>(
            QStringLiteral("Feed"), QStringLiteral("http://feeds.example.test/feed")));
        TestSupport::processEvents();
    }
    ~FeedSource()
    {
        Foundation::UrlSessionTesting::closeIdleConnections();
        Foundation::UrlSessionTesting::removeLoopbackMappings();
    }

    TestSupport::LoopbackServer server;
};

} // namespace StoryListTest

} // namespace Tickerly::StoryList

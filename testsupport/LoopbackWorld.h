#pragma once

#include "testsupport/Namespace.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/SearchStandIn.h"

#include <QColor>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

namespace Tickerly::TestSupport {

// A small internet on loopback for tests that run the real programs: feed sites (a home page
// naming its feed and its icon, the feed, article pages with sharing images), the product's
// static host (popular feeds, source names), its API server (hot stories; feed and click
// reports recorded) and the web-search service. Every host is answered by one loopback server,
// told apart by the Host header; a dead host refuses connections. Lives on the server's threads;
// safe from any thread. The test that makes it owns it.
class LoopbackWorld {
public:
    enum class FeedFormat { rss, rdf, atom };

    // The sites every world holds, with names a person would recognise in a screenshot.
    static const QString newsHost; // RSS 2.0, found by search words
    static const QString planetHost; // RDF, a popular feed
    static const QString journalHost; // Atom, a popular feed
    static const QString slowHost; // RSS answering after a few seconds, a popular feed
    static const QString deadHost; // nothing listens
    static const QString brokenHost; // an error page for every address
    static const QString searchWords; // the words that find newsHost

    // `workerThreads`: requests answered at once (a refresh of hundreds of slow sites needs
    // as many).
    explicit LoopbackWorld(int workerThreads = 64);
    ~LoopbackWorld();
    LoopbackWorld(const LoopbackWorld&) = delete;
    LoopbackWorld& operator=(const LoopbackWorld&) = delete;

    // A feed site of `stories` items, newest first, `minutesApart` minutes apart starting
    // `firstAgeMinutes` ago; every answer of the host waits `delayMs`. The items are numbered
    // from `firstNumber` (in their headlines, links and pictures): the same host added again
    // with other numbers carries other stories.
    void addFeedSite(const QString& host, const QString& title, FeedFormat format, int stories,
        QColor iconColor, int delayMs = 0, int firstAgeMinutes = 5, int minutesApart = 30,
        int firstNumber = 1);
    // Serves `document` as the feed of a site added before, in place of the one made for it.
    void setFeedDocument(const QString& host, const QByteArray& document);
    // Sends `value` as the Cache-Control of every article page and picture from now on (none:
    // nothing said about caching, as by default). Feeds and home pages are left as they are.
    void setArticleCacheControl(const QByteArray& value);
    // The site's feed address ("http://<host>/feed.xml" or .rdf/.atom) and home page.
    QString feedURL(const QString& host) const;
    static QString homeURL(const QString& host);
    QStringList feedHosts() const;

    // Maps every host to loopback in this process.
    void mapHostsHere() const;
    // Writes the map the programs read from TICKERLY_TEST_HOST_MAP.
    bool writeHostMap(const QString& path) const;

    // Requests the world received for `host` (any path when `path` is empty).
    QList<RecordedRequest> requestsTo(const QString& host, const QString& path = {}) const;
    // The objects posted to the API server's "/stories/clicked" and "/feeds/added", in order.
    QList<QJsonObject> clickReports() const;
    QList<QJsonObject> feedAddedReports() const;
    // The words of every search received.
    QStringList searches() const { return m_search->searches(); }

    LoopbackServer& server() { return m_server; }

private:
    struct Site {
        QString title;
        FeedFormat format = FeedFormat::rss;
        int delayMs = 0;
        QMap<QString, ScriptedReply> pages; // by path
    };
    std::optional<ScriptedReply> answer(const RecordedRequest& request);
    QList<QJsonObject> postedObjects(const QString& path, const QString& key) const;
    void addProductHosts();

    mutable std::mutex m_mutex;
    QMap<QString, Site> m_sites; // by host
    QByteArray m_articleCacheControl;
    int m_deadSocket = -1;
    int m_deadPort = 0;
    // Last, so the server's threads, which read the sites, are stopped before the sites go.
    LoopbackServer m_server;
    std::unique_ptr<SearchStandIn> m_search;
};

} // namespace Tickerly::TestSupport

#include "testsupport/LoopbackWorld.h"

#include "data/discovery/Bing.h"
#include "data/discovery/TopFeedsSync.h"
#include "platform/foundation/network/UrlSessionTesting.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Tickerly::TestSupport {

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

const QString LoopbackWorld::newsHost = u"morningnews.test"_s;
const QString LoopbackWorld::planetHost = u"planetnotes.test"_s;
const QString LoopbackWorld::journalHost = u"dailyjournal.test"_s;
const QString LoopbackWorld::slowHost = u"slowtimes.test"_s;
const QString LoopbackWorld::deadHost = u"deadsite.test"_s;
const QString LoopbackWorld::brokenHost = u"brokensite.test"_s;
const QString LoopbackWorld::searchWords = u"morning news"_s;

namespace {

ScriptedReply typed(QByteArray body, const QByteArray& type, int status = 200)
{
    ScriptedReply reply = bodyReply(body, status);
    reply.headers = { { "Content-Type", type } };
    return reply;
}

// A square of `color` with the site's initial, as a site's touch icon or a story's picture.
ScriptedReply picture(QColor color, int width, int height, const QString& letter)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(std::min(width, height) * 6 / 10);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, letter);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return typed(png, "image/png");
}

QByteArray escaped(const QString& text) { return text.toHtmlEscaped().toUtf8(); }

QString extensionOf(LoopbackWorld::FeedFormat format)
{
    switch (format) {
    case LoopbackWorld::FeedFormat::rdf:
        return u"rdf"_s;
    case LoopbackWorld::FeedFormat::atom:
        return u"atom"_s;
    case LoopbackWorld::FeedFormat::rss:
        break;
    }
    return u"xml"_s;
}

struct Item {
    QByteArray title;
    QByteArray link;
    QByteArray text;
    QDateTime date;
};

QByteArray feedDocument(LoopbackWorld::FeedFormat format, const QString& title, const QString& home,
    const QList<Item>& items)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    switch (format) {
    case LoopbackWorld::FeedFormat::rss:
        doc += "<rss version=\"2.0\"><channel><title>" + escaped(title) + "</title><link>"
            + home.toUtf8() + "</link><description>Stories</description>\n";
        for (const Item& item : items)
            doc += "<item><title>" + item.title + "</title><link>" + item.link + "</link><guid>"
                + item.link + "</guid><description>" + item.text + "</description><pubDate>"
                + item.date.toString(Qt::RFC2822Date).toUtf8() + "</pubDate></item>\n";
        return doc + "</channel></rss>\n";
    case LoopbackWorld::FeedFormat::rdf:
        doc += "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
               "xmlns=\"http://purl.org/rss/1.0/\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
               "<channel rdf:about=\""
            + home.toUtf8() + "\"><title>" + escaped(title) + "</title><link>" + home.toUtf8()
            + "</link></channel>\n";
        for (const Item& item : items)
            doc += "<item rdf:about=\"" + item.link + "\"><title>" + item.title + "</title><link>"
                + item.link + "</link><description>" + item.text + "</description><dc:date>"
                + item.date.toString(Qt::ISODate).toUtf8() + "</dc:date></item>\n";
        return doc + "</rdf:RDF>\n";
    case LoopbackWorld::FeedFormat::atom:
        doc += "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>" + escaped(title)
            + "</title><link href=\"" + home.toUtf8() + "\"/><updated>"
            + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "</updated>\n";
        for (const Item& item : items)
            doc += "<entry><title>" + item.title + "</title><link href=\"" + item.link + "\"/><id>"
                + item.link + "</id><published>" + item.date.toString(Qt::ISODate).toUtf8()
                + "</published><updated>" + item.date.toString(Qt::ISODate).toUtf8()
                + "</updated><summary>" + item.text + "</summary></entry>\n";
        return doc + "</feed>\n";
    }
    return doc;
}

QString hostOf(const RecordedRequest& request)
{
    return QString::fromUtf8(request.header("host")).section(u':', 0, 0).toLower();
}

// The path without the query. Repeated slashes are not merged: many servers answer such a
// path with 404, and so does the world, so that a link joined with a doubled slash shows.
QString pathOf(const RecordedRequest& request)
{
    return QString::fromUtf8(request.path).section(u'?', 0, 0);
}

} // namespace

LoopbackWorld::LoopbackWorld(int workerThreads)
    : m_server(workerThreads)
    , m_search(std::make_unique<SearchStandIn>(m_server))
{
    // Bound but never listening: every connection is refused at once, as from a dead host.
    m_deadSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (m_deadSocket >= 0
        && ::bind(m_deadSocket, reinterpret_cast<sockaddr*>(&address), length) == 0
        && ::getsockname(m_deadSocket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_deadPort = ntohs(address.sin_port);

    m_server.replyOtherwise([this](const RecordedRequest& request) { return answer(request); });
    addFeedSite(
        newsHost, u"Morning News"_s, FeedFormat::rss, 6, QColor(0xd0, 0x3a, 0x2f), 0, 3, 41);
    addFeedSite(
        planetHost, u"Planet Notes"_s, FeedFormat::rdf, 5, QColor(0x2f, 0x6f, 0xd0), 0, 12, 53);
    addFeedSite(
        journalHost, u"Daily Journal"_s, FeedFormat::atom, 5, QColor(0x2f, 0x9e, 0x5a), 0, 25, 47);
    addFeedSite(
        slowHost, u"Slow Times"_s, FeedFormat::rss, 3, QColor(0x8a, 0x5c, 0xc8), 2500, 34, 90);
    {
        std::lock_guard lock(m_mutex);
        Site broken;
        broken.title = u"Broken"_s;
        m_sites.insert(brokenHost, broken);
    }
    addProductHosts();
    m_search->answer([](const QString& words) {
        return SearchStandIn::results(words.compare(searchWords, Qt::CaseInsensitive) == 0
                ? QStringList { homeURL(newsHost) }
                : QStringList {});
    });
}

LoopbackWorld::~LoopbackWorld()
{
    // The server's threads answer from the sites and the search stand-in, which go before the
    // server does: no request may still be under way by then.
    m_server.stop();
    if (m_deadSocket >= 0)
        ::close(m_deadSocket);
}

void LoopbackWorld::addFeedSite(const QString& host, const QString& title, FeedFormat format,
    int stories, QColor iconColor, int delayMs, int firstAgeMinutes, int minutesApart,
    int firstNumber)
{
    const QString home = homeURL(host);
    const QString letter = title.left(1);
    Site site;
    site.title = title;
    site.format = format;
    site.delayMs = delayMs;
    const QString feedPath = u"/feed."_s + extensionOf(format);
    site.pages.insert(u"/"_s,
        typed("<!DOCTYPE html><html><head><title>" + escaped(title)
                + "</title><link rel=\"alternate\" type=\"application/rss+xml\" title=\""
                + escaped(title) + "\" href=\"" + feedPath.toUtf8()
                + "\"><link rel=\"apple-touch-icon\" href=\"/touch.png\"></head><body><h1>"
                + escaped(title) + "</h1></body></html>",
            "text/html"));
    site.pages.insert(u"/touch.png"_s, picture(iconColor, 120, 120, letter));
    QList<Item> items;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 1; i <= stories; ++i) {
        const int number = firstNumber + i - 1;
        const QString article = u"/articles/%1.html"_s.arg(number);
        const QString image = u"/images/%1.png"_s.arg(number);
        const QString headline = title + u" story "_s + QString::number(number);
        items.append({ escaped(headline), (home.chopped(1) + article).toUtf8(),
            "What happened at " + escaped(title) + " today, told in a few plain sentences.",
            now.addSecs(-60LL * (firstAgeMinutes + (i - 1) * minutesApart)) });
        site.pages.insert(article,
            typed("<html><head><title>" + escaped(headline)
                    + "</title><meta property=\"og:image\" content=\""
                    + (home.chopped(1) + image).toUtf8() + "\"></head><body><p>" + escaped(headline)
                    + "</p></body></html>",
                "text/html"));
        site.pages.insert(image, picture(iconColor.darker(100 + 12 * i), 320, 200, letter));
    }
    site.pages.insert(feedPath, typed(feedDocument(format, title, home, items), "application/xml"));
    std::lock_guard lock(m_mutex);
    m_sites.insert(host.toLower(), site);
}

void LoopbackWorld::addProductHosts()
{
    const ProductServers servers = ProductServers::current();
    const QString staticPath = servers.staticFiles.path();
    const QString apiPath = servers.api.path();
    QJsonArray popular;
    QJsonObject names;
    int hits = 300;
    for (const QString& host : { journalHost, planetHost, slowHost }) {
        popular.append(QJsonObject { { u"url"_s, feedURL(host) }, { u"hits"_s, hits } });
        hits -= 100;
    }
    for (const QString& host : { newsHost, journalHost, planetHost, slowHost }) {
        const QString feed = feedURL(host);
        std::lock_guard lock(m_mutex);
        names.insert(feed, m_sites.value(host).title);
    }
    Site staticHost;
    staticHost.pages.insert(staticPath + u"/popular.json"_s,
        typed(QJsonDocument(popular).toJson(QJsonDocument::Compact), "application/json"));
    staticHost.pages.insert(staticPath + u"/names.json"_s,
        typed(QJsonDocument(names).toJson(QJsonDocument::Compact), "application/json"));

    Site api;
    QJsonArray hot;
    hot.append(QJsonObject {
        { u"canonical_url"_s, homeURL(newsHost) + u"articles/1.html"_s }, { u"hits"_s, 42 } });
    api.pages.insert(apiPath + u"/stories/hot"_s,
        typed(QJsonDocument(hot).toJson(QJsonDocument::Compact), "application/json"));
    api.pages.insert(apiPath + u"/stories/clicked"_s, typed("{}", "application/json"));
    api.pages.insert(apiPath + u"/feeds/added"_s, typed("{}", "application/json"));

    std::lock_guard lock(m_mutex);
    m_sites.insert(servers.staticFiles.host().toLower(), staticHost);
    m_sites.insert(servers.api.host().toLower(), api);
}

std::optional<ScriptedReply> LoopbackWorld::answer(const RecordedRequest& request)
{
    const QString host = hostOf(request);
    const QString path = pathOf(request);
    std::lock_guard lock(m_mutex);
    const auto site = m_sites.constFind(host);
    if (site == m_sites.cend())
        return std::nullopt;
    if (host == brokenHost)
        return typed(
            "<!DOCTYPE html><html><head><title>500 Internal Server Error</title></head>"
            "<body><h1>Internal Server Error</h1><p>Please try again later.</p></body></html>",
            "text/html", 500);
    std::optional<ScriptedReply> reply;
    const auto page = site->pages.constFind(path);
    if (page != site->pages.cend())
        reply = *page;
    else
        reply = typed("<html><body>Not here</body></html>", "text/html", 404);
    reply->delayMs = site->delayMs;
    if (!m_articleCacheControl.isEmpty() && page != site->pages.cend()
        && (path.startsWith(u"/articles/"_s) || path.startsWith(u"/images/"_s)))
        reply->headers.append({ "Cache-Control", m_articleCacheControl });
    return reply;
}

void LoopbackWorld::setFeedDocument(const QString& host, const QByteArray& document)
{
    std::lock_guard lock(m_mutex);
    const auto site = m_sites.find(host.toLower());
    if (site != m_sites.end())
        site->pages.insert(
            u"/feed."_s + extensionOf(site->format), typed(document, "application/xml"));
}

void LoopbackWorld::setArticleCacheControl(const QByteArray& value)
{
    std::lock_guard lock(m_mutex);
    m_articleCacheControl = value;
}

QString LoopbackWorld::feedURL(const QString& host) const
{
    std::lock_guard lock(m_mutex);
    return homeURL(host) + u"feed."_s + extensionOf(m_sites.value(host.toLower()).format);
}

QString LoopbackWorld::homeURL(const QString& host) { return u"http://"_s + host + u"/"_s; }

QStringList LoopbackWorld::feedHosts() const
{
    std::lock_guard lock(m_mutex);
    QStringList hosts;
    for (auto it = m_sites.cbegin(); it != m_sites.cend(); ++it) {
        if (it->pages.contains(u"/touch.png"_s))
            hosts.append(it.key());
    }
    return hosts;
}

void LoopbackWorld::mapHostsHere() const
{
    const QString path = QDir::temp().filePath(u"tickerly-hosts-%1"_s.arg(m_server.port()));
    if (writeHostMap(path))
        UrlSessionTesting::mapHostsFromFile(path);
    QFile::remove(path);
}

bool LoopbackWorld::writeHostMap(const QString& path) const
{
    const ProductServers servers = ProductServers::current();
    const QString port = QString::number(m_server.port());
    QString map;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_sites.cbegin(); it != m_sites.cend(); ++it)
            map += it.key() + u' ' + port + u'\n';
    }
    map += servers.api.host() + u':' + QString::number(servers.api.port().value_or(80)) + u' '
        + port + u'\n';
    map += Bing::searchHost() + u' ' + port + u'\n';
    map += deadHost + u' ' + QString::number(m_deadPort) + u'\n';
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(map.toUtf8()) == map.toUtf8().size();
}

QList<RecordedRequest> LoopbackWorld::requestsTo(const QString& host, const QString& path) const
{
    QList<RecordedRequest> found;
    for (const RecordedRequest& request : m_server.requests()) {
        if (hostOf(request) == host.toLower() && (path.isEmpty() || pathOf(request) == path))
            found.append(request);
    }
    return found;
}

QList<QJsonObject> LoopbackWorld::postedObjects(const QString& path, const QString& key) const
{
    const Url api = ProductServers::current().api;
    QList<QJsonObject> objects;
    for (const RecordedRequest& request : requestsTo(api.host(), api.path() + path)) {
        if (request.method == "POST")
            objects.append(QJsonDocument::fromJson(request.body).object().value(key).toObject());
    }
    return objects;
}

QList<QJsonObject> LoopbackWorld::clickReports() const
{
    return postedObjects(u"/stories/clicked"_s, u"story"_s);
}

QList<QJsonObject> LoopbackWorld::feedAddedReports() const
{
    return postedObjects(u"/feeds/added"_s, u"feed"_s);
}

} // namespace Tickerly::TestSupport

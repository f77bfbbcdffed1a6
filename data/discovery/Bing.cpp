#include "data/discovery/Bing.h"

#include "platform/foundation/network/UrlSession.h"
#include "platform/linkwork/Chain.h"
#include "platform/linkwork/JSONSerialization.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <atomic>
#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcBing, "tickerly.discovery.search")

namespace {

// The stored key is the account key with every occurrence of `keyMarker` standing in for
// `keyReplacement`; the length stays the same.
const QString keyMarker = u"Qz"_s;
const QString keyReplacement = u"k7"_s;

std::mutex hostMutex;
// Never destroyed: a search may still read it on a worker while the process ends.
QString& configuredSearchHost = *new QString(u"api.datamarket.azure.com"_s);

QString accountKey()
{
    QString key = bingKey();
    key.replace(keyMarker, keyReplacement);
    return key;
}

} // namespace

QString bingKey()
{
    const QString fromEnvironment = qEnvironmentVariable("TICKERLY_SEARCH_KEY").trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString directory
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (directory.isEmpty())
        return {};
    QFile file(directory + u"/tickerly/search-key"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine(1024)).trimmed();
}

// A placeholder of the key's form: no real key is kept in the sources.
const QString bingKeyDevelopment = u"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="_s;

const QString Bing::ErrorDomain = u"velmora.Tickerly.Bing"_s;

Bing::Bing(std::shared_ptr<UrlSession> session)
    : m_session(session ? std::move(session) : UrlSession::create())
{
}

Bing::~Bing() = default;

Promise<Result<Url>> Bing::search(const QString& query)
{
    auto self = shared_from_this();
    return loadDataForSearchString(query) >> [self](const DataTaskResponse& reply) {
        return self->handleResponse(reply.data, reply.response);
    };
}

Promise<Result<DataTaskResponse>> Bing::loadDataForSearchString(const QString& query)
{
    if (accountKey().isEmpty()) {
        static std::atomic_bool told = false;
        if (!told.exchange(true))
            qCWarning(lcBing)
                << "web search is off: no account key; set TICKERLY_SEARCH_KEY or write it to"
                << QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                    + u"/tickerly/search-key"_s;
        return Promise<Result<DataTaskResponse>>(Result<DataTaskResponse>::Error(
            Error(ErrorDomain, NoAccountKey, u"no account key for the web search"_s)));
    }
    auto self = shared_from_this();
    return urlForSearchString(query) >>
        [self](const Url& url) { return self->urlRequestForUrl(url); } >>
        [self](const UrlRequest& request) {
            auto [task, promise] = dataTask(*self->m_session, request);
            task->resume();
            return promise;
        };
}

Result<Url> Bing::handleResponse(const QByteArray& data, const UrlResponse&)
{
    return toJSON(JSONSerialization::NoReadingOptions, data) >>
        [](const JSONSerializationResult& json) { return json.dictionaryValue(); } >>
        [this](const QVariantMap& answer) { return parseResult(answer); };
}

std::optional<Url> Bing::urlForSearchString(const QString& query)
{
    // Everything outside the unreserved characters is escaped, so "&", "+" or "#" in the words
    // cannot split the query; the quotes around the words and the "$" of the name stay as the
    // service expects them.
    const QString keep = u"'$"_s;
    const QString text = u"https://"_s + searchHost() + u"/Bing/Search/Web?"_s
        + Url::percentEncoded(u"$format"_s, keep) + u'=' + Url::percentEncoded(u"JSON"_s, keep)
        + u'&' + Url::percentEncoded(u"Query"_s, keep) + u'='
        + Url::percentEncoded(u'\'' + query + u'\'', keep);
    return Url::fromString(text);
}

UrlRequest Bing::urlRequestForUrl(const Url& url)
{
    UrlRequest request(url);
    request.maximumBodySize = UrlRequest::jsonBodyLimit;
    request.setValue(authorizationValueForKey(accountKey()), u"Authorization"_s);
    return request;
}

QString Bing::authorizationValueForKey(const QString& key)
{
    const QByteArray credentials = (key + u':' + key).toUtf8();
    return u"Basic "_s + QString::fromLatin1(credentials.toBase64());
}

std::optional<Url> Bing::parseResult(const QVariantMap& answer)
{
    const QVariant d = answer.value(u"d"_s);
    if (d.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant results = d.toMap().value(u"results"_s);
    if (results.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList list = results.toList();
    if (list.isEmpty() || list.first().typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant url = list.first().toMap().value(u"Url"_s);
    if (url.typeId() != QMetaType::QString)
        return std::nullopt;
    return Url::fromString(url.toString());
}

QString Bing::searchHost()
{
    std::lock_guard lock(hostMutex);
    return configuredSearchHost;
}

void Bing::setSearchHost(const QString& host)
{
    std::lock_guard lock(hostMutex);
    configuredSearchHost = host;
}

} // namespace Tickerly::Data

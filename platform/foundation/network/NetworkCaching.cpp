#include "platform/foundation/network/NetworkEngineDetail_p.h"

namespace Tickerly::Foundation {

// The network thread's side of the answers kept for reuse: which hops may use them, answering
// from them, and keeping what a finished hop brought.

using namespace Qt::Literals::StringLiterals;

namespace NetworkDetail {

// Whether the hop's request, with the session's fields under its own, may use the cache.
bool cacheApplies(const Transfer& t)
{
    if (t.sessionHeaders.isEmpty())
        return UrlCache::applies(t.request);
    UrlRequest sent = t.request;
    for (const auto& [name, value] : t.sessionHeaders.fields()) {
        if (!sent.headerFields.contains(name))
            sent.headerFields.setValue(name, value);
    }
    return UrlCache::applies(sent);
}

} // namespace NetworkDetail

void NetworkEngine::Private::answerFromCache(
    Transfer* t, const std::shared_ptr<const UrlCache::Entry>& entry)
{
    UrlResponse response = entry->response;
    response.url = t->request.url;
    {
        std::lock_guard lock(t->task->d->mutex);
        t->task->d->response = std::move(response);
        t->task->d->received = entry->body.size();
    }
    if (t->streams) {
        NetworkEngine::deliverData(t->task, entry->body);
        complete(t, QByteArray(), std::nullopt);
        return;
    }
    complete(t, entry->body, std::nullopt);
}

void NetworkEngine::Private::updateCache(Transfer* t, const QByteArray& body)
{
    const QString& method = t->request.httpMethod;
    if (method != u"GET" && method != u"HEAD" && t->parser.statusCode < 400) {
        // What the address names may have changed.
        UrlCache::shared().remove(t->request.url);
        return;
    }
    if (!t->cacheable)
        return;
    UrlResponse response;
    {
        std::lock_guard lock(t->task->d->mutex);
        response = t->task->d->response.value_or(UrlResponse {});
    }
    QByteArray whole = body;
    if (t->streams) {
        if (!t->keepsPieces) {
            UrlCache::shared().remove(t->request.url);
            return;
        }
        if (t->keptPieces.size() == 1) {
            whole = t->keptPieces.front();
        } else {
            ReceivedBody joined;
            for (const QByteArray& piece : t->keptPieces)
                joined.append(piece.constData(), piece.size());
            whole = joined.take();
        }
        t->keptPieces.clear();
    }
    UrlCache::shared().store(t->request, response, whole, t->hopRequestTime, UrlCache::now());
}

} // namespace Tickerly::Foundation

#pragma once

#include "api/Namespace.h"
#include "api/JSON.h"
#include "platform/foundation/network/UrlRequest.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"
#include "tickerlyapimac_export.h"

#include <QString>

#include <atomic>
#include <memory>

namespace Tickerly::Foundation {
class UrlSession;
} // namespace Tickerly::Foundation

namespace Tickerly::API {

// Performs requests against the product's servers and reads their JSON replies. Owns one URL
// session, whose own serial queue resolves every promise; the HTTP status is never looked at.
//
// A request fails with the session's error (transport, time-out, cancellation, a reply past
// `maximumResponseSize`), with code `ErrorNoData` when the transfer gave no data, with the JSON
// reader's error when the reply is no JSON array or object, or with code `ErrorReplyError` when
// the reply has a string member "error" (user info "error" and "description"). Everything else
// is Ok with the reply.
//
// "Authorization" follows a redirect only to the same scheme, host and port (the session sees
// to that). After `cancelAllRequests` the client is spent: later requests fail at once with a
// cancellation error. Destroying the client lets running requests finish.
//
// Any thread; owned by the API client that made it.
class TICKERLYAPIMAC_EXPORT NetworkClient {
public:
    static const QString ErrorDomain; // "velmora.Vistrel.NetworkClient"
    static constexpr int ErrorReplyError = 1;
    static constexpr int ErrorNoData = 2;
    // Replies are JSON documents of a few kilobytes; anything this large is refused.
    static constexpr qint64 maximumResponseSize = 4 * 1024 * 1024;

    NetworkClient();
    ~NetworkClient();
    NetworkClient(const NetworkClient&) = delete;
    NetworkClient& operator=(const NetworkClient&) = delete;

    // Starts `request` and returns at once; the promise is set once, on the session's queue.
    Linkwork::Promise<Linkwork::Result<JSON>> performRequest(const Foundation::UrlRequest& request);
    // Cancels every running request (each resolves with a cancellation error) and ends the
    // session for good.
    void cancelAllRequests();

private:
    std::shared_ptr<Foundation::UrlSession> session;
    std::atomic<bool> cancelled { false };
};

} // namespace Tickerly::API

#pragma once

#include "platform/linkwork/Namespace.h"
#include "platform/foundation/network/UrlRequest.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"
#include "tickerlylinkwork_export.h"

#include <QByteArray>

#include <memory>
#include <utility>

namespace Tickerly::Foundation {
class UrlSession;
class UrlSessionDataTask;
} // namespace Tickerly::Foundation

namespace Tickerly::Linkwork {

// What a data task that ended without error received.
struct TICKERLYLINKWORK_EXPORT DataTaskResponse {
    QByteArray data; // the body; empty when the server sent none
    Foundation::UrlResponse response;
};

// A data task of `session` for `request` and the promise of its outcome: Ok with the body and
// response however the server answered (the status is not looked at), or Error with the
// session's error (a transport failure, a refused address, a body past the request's cap, a
// cancellation). The task is not started: the caller resumes it, and may cancel it.
//
// The promise is set on the session's delegate queue; functions chained onto it run there.
// It is set exactly once, once the task ends; a task never resumed leaves it open.
TICKERLYLINKWORK_EXPORT
std::pair<std::shared_ptr<Foundation::UrlSessionDataTask>, Promise<Result<DataTaskResponse>>>
dataTask(Foundation::UrlSession& session, const Foundation::UrlRequest& request);

} // namespace Tickerly::Linkwork

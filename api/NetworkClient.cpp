#include "api/NetworkClient.h"

#include "platform/foundation/network/UrlSession.h"

#include <QDebug>

#include <algorithm>

namespace Tickerly::API {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;

using namespace Qt::Literals::StringLiterals;

const QString NetworkClient::ErrorDomain = u"velmora.Vistrel.NetworkClient"_s;

namespace {

void logFailure(const Error& error)
{
    qWarning().noquote() << u"Request failed: "_s + error.description();
}

// What a finished transfer amounts to.
Result<JSON> outcome(
    const std::optional<QByteArray>& data, const std::optional<Error>& transportError)
{
    if (transportError) {
        logFailure(*transportError);
        return Result<JSON>::Error(*transportError);
    }
    if (!data) {
        qWarning().noquote() << u"Request failed"_s;
        return Result<JSON>::Error(Error(NetworkClient::ErrorDomain, NetworkClient::ErrorNoData));
    }
    std::optional<Error> parseError;
    const JSON json = JSON::fromData(*data, JSONSerialization::NoReadingOptions, &parseError);
    if (parseError)
        return Result<JSON>::Error(*parseError);
    if (json.error())
        return Result<JSON>::Error(*json.error());
    const std::optional<QString> error = json[u"error"_s].string();
    if (!error)
        return Result<JSON>::Ok(json);
    const QVariantMap userInfo {
        { u"error"_s, *error },
        { u"description"_s, json[u"error_description"_s].stringValue() },
    };
    return Result<JSON>::Error(
        Error(NetworkClient::ErrorDomain, NetworkClient::ErrorReplyError, userInfo));
}

} // namespace

NetworkClient::NetworkClient()
    : session(UrlSession::create())
{
}

NetworkClient::~NetworkClient() { session->finishTasksAndInvalidate(); }

Promise<Result<JSON>> NetworkClient::performRequest(const UrlRequest& request)
{
    Promise<Result<JSON>> promise;
    if (cancelled) {
        // The session is gone for good; answer as its cancelled tasks did.
        const Error error = UrlError::make(UrlError::Cancelled);
        logFailure(error);
        promise.setValue(Result<JSON>::Error(error));
        return promise;
    }
    UrlRequest capped = request;
    capped.maximumBodySize = std::min(capped.maximumBodySize, maximumResponseSize);
    session
        ->dataTask(capped,
            [promise](std::optional<QByteArray> data, std::optional<UrlResponse>,
                std::optional<Error> error) { promise.setValue(outcome(data, error)); })
        ->resume();
    return promise;
}

void NetworkClient::cancelAllRequests()
{
    cancelled = true;
    session->invalidateAndCancel();
}

} // namespace Tickerly::API

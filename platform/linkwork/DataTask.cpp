#include "platform/linkwork/DataTask.h"

#include "platform/foundation/network/UrlSession.h"

namespace Tickerly::Linkwork {

using namespace Tickerly::Foundation;

std::pair<std::shared_ptr<UrlSessionDataTask>, Promise<Result<DataTaskResponse>>> dataTask(
    UrlSession& session, const UrlRequest& request)
{
    Promise<Result<DataTaskResponse>> promise;
    auto task = session.dataTask(request,
        [promise, url = request.url](std::optional<QByteArray> data,
            std::optional<UrlResponse> response, std::optional<Error> error) {
            if (error) {
                promise.setValue(Result<DataTaskResponse>::Error(std::move(*error)));
                return;
            }
            UrlResponse answered = response.value_or(UrlResponse {});
            if (!response)
                answered.url = url;
            promise.setValue(Result<DataTaskResponse>::Ok(
                DataTaskResponse { data.value_or(QByteArray()), std::move(answered) }));
        });
    return { std::move(task), promise };
}

} // namespace Tickerly::Linkwork

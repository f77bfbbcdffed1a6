#include "data/discovery/AppStoreRateCount.h"

#include "data/discovery/IconFetcher.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSession.h"
#include "platform/linkwork/JSONSerialization.h"

#include <cmath>
#include <limits>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Qt::Literals::StringLiterals;

void loadAppStoreRateCount(const QString& forAppId, std::function<void(qint64)> completion)
{
    // The id goes in as it is: one that needs encoding makes no address and ends the lookup.
    const auto url = Url::fromString(u"https://"_s + IconFetcher::outsideHosts().appStoreLookupHost
        + u"/lookup?id="_s + forAppId);
    if (!url)
        return;
    UrlRequest request(*url);
    request.maximumBodySize = UrlRequest::jsonBodyLimit;
    const auto session = UrlSession::create();
    session
        ->dataTask(request,
            [completion = std::move(completion)](
                std::optional<QByteArray> data, std::optional<UrlResponse>, std::optional<Error>) {
                if (!data)
                    return;
                const std::optional<qint64> count = appStoreRateCount(*data);
                if (!count)
                    return;
                MainQueue::dispatchAsync([completion, count = *count] {
                    if (completion)
                        completion(count);
                });
            })
        ->resume();
}

std::optional<qint64> appStoreRateCount(QByteArrayView answer)
{
    const Result<nlohmann::json> document
        = JSONSerialization::read(answer, JSONSerialization::NoReadingOptions);
    if (document.isError() || !document.value().is_object())
        return std::nullopt;
    const nlohmann::json& root = document.value();
    const auto results = root.find("results");
    if (results == root.end() || !results->is_array() || results->empty()
        || !results->front().is_object())
        return std::nullopt;
    const nlohmann::json& first = results->front();
    const auto count = first.find("userRatingCountForCurrentVersion");
    if (count == first.end())
        return std::nullopt;
    if (count->is_number_integer()) {
        if (count->is_number_unsigned()
            && count->get<quint64>() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return count->get<qint64>();
    }
    if (count->is_number_float()) {
        // A count written as 12.0 is still a whole number; a fraction or one past 64 bits is none.
        const double value = count->get<double>();
        if (std::trunc(value) != value || value < -0x1p63 || value >= 0x1p63)
            return std::nullopt;
        return static_cast<qint64>(value);
    }
    return std::nullopt;
}

} // namespace Tickerly::Data

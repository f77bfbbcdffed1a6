#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/UrlSession.h"

#include <mutex>
#include <optional>

namespace Tickerly::Foundation {

// Records what a completion-handler task hands over, from whichever queue it runs on.
struct CompletionRecorder {
    std::mutex mutex;
    int calls = 0;
    std::optional<QByteArray> data;
    std::optional<UrlResponse> response;
    std::optional<Error> error;

    UrlSessionDataTask::CompletionHandler handler()
    {
        return [this](std::optional<QByteArray> d, std::optional<UrlResponse> r,
                   std::optional<Error> e) {
            std::lock_guard lock(mutex);
            ++calls;
            data = std::move(d);
            response = std::move(r);
            error = std::move(e);
        };
    }
    int callCount()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
    bool done() { return callCount() > 0; }
};

} // namespace Tickerly::Foundation

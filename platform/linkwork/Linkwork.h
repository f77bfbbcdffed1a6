#pragma once

// The promise library: promises, results and their chaining operators, and JSON reading.
//
// The promise-returning data task over URL sessions belongs with the URL session layer
// (platform/foundation/UrlSession): it gives the unstarted task and a
// Promise<Result<...>> of the received data and response, resolved through
// `Promise::resolver()` or `setValue` from the session's queue, with transport failures as
// `Error` values.
#include "platform/linkwork/Chain.h"
#include "platform/foundation/Error.h"
#include "platform/linkwork/JSONSerialization.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"

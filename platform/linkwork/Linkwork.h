#pragma once

// The promise library: promises, results and their chaining operators, JSON reading, and the
// promise-returning data task over URL sessions.
#include "platform/linkwork/Namespace.h"
#include "platform/linkwork/Chain.h"
#include "platform/linkwork/DataTask.h"
#include "platform/foundation/base/Error.h"
#include "platform/linkwork/JSONSerialization.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"

#pragma once

#include "api/Namespace.h"
#include "platform/foundation/base/Url.h"
#include "platform/linkwork/Promise.h"
#include "platform/linkwork/Result.h"
#include "testsupport/LogCollector.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <atomic>

namespace Tickerly::API {

// Helpers of the API client tests.
namespace APITest {

// The promise's result once set (within the bounded wait).
template <typename T>
Linkwork::Result<T> settled(const Linkwork::Promise<Linkwork::Result<T>>& promise)
{
    EXPECT_TRUE(TestSupport::waitFor([&] { return promise.isResolved(); }));
    if (!promise.isResolved())
        return Linkwork::Result<T>::Error(
            Foundation::Error(QStringLiteral("test"), 0, QStringLiteral("never resolved")));
    return *promise.value();
}

inline TestSupport::ScriptedReply jsonReply(const QByteArray& body, int status = 200)
{
    TestSupport::ScriptedReply reply;
    reply.status = status;
    reply.body = body;
    reply.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return reply;
}

// A request body as JSON, for exact comparison; a body that is no JSON reads as a string.
inline nlohmann::json bodyOf(const TestSupport::RecordedRequest& request)
{
    return nlohmann::json::parse(request.body.toStdString(), nullptr, false);
}

using TestSupport::LogCollector;

inline bool onMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace APITest

} // namespace Tickerly::API

namespace Tickerly::Foundation {

inline void PrintTo(const Url& url, std::ostream* os)
{
    *os << "Url(\"" << url.absoluteString().toStdString() << "\")";
}

} // namespace Tickerly::Foundation

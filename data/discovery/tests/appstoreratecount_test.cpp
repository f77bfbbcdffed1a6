#include "data/discovery/AppStoreRateCount.h"
#include "data/discovery/IconFetcher.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;
using TestSupport::RecordedRequest;

namespace {

class RatingLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        IconFetcher::OutsideHosts hosts;
        hosts.appStoreLookupHost = u"lookup.example.test"_s;
        IconFetcher::setOutsideHosts(hosts);
        UrlSessionTesting::mapToLoopback(u"https"_s, hosts.appStoreLookupHost, 443, server.port());
        server.replyWith(u"/lookup"_s, [](const RecordedRequest& request) {
            return TestSupport::bodyReply(request.path == "/lookup?id=100"
                    ? R"({"resultCount": 1, "results": [{"userRatingCountForCurrentVersion": 0}]})"
                    : R"({"resultCount": 0, "results": []})");
        });
    }
    void TearDown() override
    {
        IconFetcher::setOutsideHosts({});
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }

    // A completion that records its calls and whether each ran on the main thread.
    std::function<void(qint64)> recorder(QStringList& calls)
    {
        return [&calls](qint64 count) {
            calls.append(QString::number(count)
                + (MainQueue::isCurrent() ? u" on main"_s : u" elsewhere"_s));
        };
    }

    LoopbackServer server;
};

} // namespace

TEST_F(RatingLookup, DeliversACountOfZeroOnTheMainQueueAndNothingOtherwise)
{
    // Ids that make no address send nothing.
    QStringList refused;
    for (const QString& id : { u"100 "_s, u"1 00"_s, u"100\n"_s, u"10\u00e90"_s })
        loadAppStoreRateCount(id, recorder(refused));
    QStringList unknown;
    loadAppStoreRateCount(u"200"_s, recorder(unknown));
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requestCount(u"/lookup"_s) == 1; }));

    QStringList known;
    loadAppStoreRateCount(u"100"_s, recorder(known));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !known.isEmpty(); }));
    TestSupport::processEvents();
    EXPECT_EQ(known, QStringList { u"0 on main"_s });
    EXPECT_TRUE(unknown.isEmpty());
    EXPECT_TRUE(refused.isEmpty());

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1].method, QByteArray("GET"));
    EXPECT_EQ(requests[1].path, QByteArray("/lookup?id=100"));
    EXPECT_EQ(requests[1].header("host"), QByteArray("lookup.example.test"));
}

TEST(RatingCountAnswer, TakesOnlyAWholeNumberFromTheFirstResult)
{
    const auto count = [](const char* answer) { return appStoreRateCount(QByteArrayView(answer)); };
    EXPECT_EQ(
        count(
            R"({"results": [{"userRatingCountForCurrentVersion": 41}, {"userRatingCountForCurrentVersion": 9}]})"),
        41);
    EXPECT_EQ(count(R"({"results": [{"userRatingCountForCurrentVersion": 12.0}]})"), 12);
    EXPECT_EQ(count(R"({"results": [{"userRatingCountForCurrentVersion": 9223372036854775807}]})"),
        std::numeric_limits<qint64>::max());

    for (const char* answer : {
             R"({"results": [{"userRatingCountForCurrentVersion": 12.5}]})",
             R"({"results": [{"userRatingCountForCurrentVersion": "12"}]})",
             R"({"results": [{"userRatingCountForCurrentVersion": true}]})",
             R"({"results": [{"userRatingCountForCurrentVersion": null}]})",
             R"({"results": [{"userRatingCountForCurrentVersion": 9223372036854775808}]})",
             R"({"results": [{"userRatingCountForCurrentVersion": 1e300}]})",
             R"({"results": [{"userRatingCount": 4}]})",
             R"({"results": [[{"userRatingCountForCurrentVersion": 4}]]})",
             R"({"results": {"userRatingCountForCurrentVersion": 4}})",
             R"([{"results": [{"userRatingCountForCurrentVersion": 4}]}])",
             R"({"results": [{"userRatingCountForCurrentVersion": 4}])",
             "4",
             "",
         })
        EXPECT_EQ(count(answer), std::nullopt) << answer;
}

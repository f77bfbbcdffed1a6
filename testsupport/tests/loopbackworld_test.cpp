#include "testsupport/LoopbackWorld.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace Tickerly;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// The world goes while clients still ask it for pages over kept-alive connections: the answers
// under way must not reach the sites after they are gone (AddressSanitizer reports it).
TEST(LoopbackWorld, GoesWhileRequestsAreUnderWay)
{
    for (int round = 0; round < 5; ++round) {
        auto world = std::make_unique<TestSupport::LoopbackWorld>(16);
        world->addFeedSite(u"busy.test"_s, u"Busy"_s, TestSupport::LoopbackWorld::FeedFormat::rss,
            20, QColor(0x40, 0x80, 0xc0), 0, 1, 30);
        const int port = world->server().port();
        std::atomic<int> answered = 0;
        std::vector<std::thread> clients;
        for (int c = 0; c < 8; ++c) {
            clients.emplace_back([port, &answered] {
                httplib::Client client("127.0.0.1", port);
                client.set_keep_alive(true);
                // Far above what an answer takes on a busy machine; a world that has gone
                // ends the connection at once.
                client.set_connection_timeout(10);
                client.set_read_timeout(10);
                // Until the world has stopped answering; bounded all the same.
                for (int i = 0; i < 20000; ++i) {
                    const auto result = client.Get("/feed.rss", { { "Host", "busy.test" } });
                    if (!result)
                        return;
                    answered.fetch_add(1);
                }
            });
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (answered.load() < 200 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        world.reset();
        for (std::thread& client : clients)
            client.join();
        EXPECT_GE(answered.load(), 200);
    }
}

// A link joined to a site address that ends in a slash arrives with two; as many servers do,
// the world finds nothing there, so that tests see it.
TEST(LoopbackWorld, AnswersNotFoundForADoubledSlash)
{
    TestSupport::LoopbackWorld world(2);
    world.addFeedSite(u"slashes.test"_s, u"Slashes"_s, TestSupport::LoopbackWorld::FeedFormat::rss,
        1, QColor(0x40, 0x80, 0xc0));
    httplib::Client client("127.0.0.1", world.server().port());
    client.set_read_timeout(5);
    for (const char* path : { "/touch.png", "/articles/1.html" }) {
        const auto found = client.Get(path, { { "Host", "slashes.test" } });
        ASSERT_TRUE(found) << path;
        EXPECT_EQ(found->status, 200) << path;
        const auto doubled = client.Get("/" + std::string(path), { { "Host", "slashes.test" } });
        ASSERT_TRUE(doubled) << path;
        EXPECT_EQ(doubled->status, 404) << path;
    }
}

} // namespace

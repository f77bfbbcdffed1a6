#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/OperationQueue.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using TestSupport::waitFor;

namespace {

struct VirtualClockScope {
    VirtualClock clock;
    VirtualClockScope() { MainQueue::setClock(&clock); }
    ~VirtualClockScope() { MainQueue::setClock(nullptr); }
};

} // namespace

TEST(MainQueue, RunsPostedWorkOnTheMainThreadInOrderEvenFromOtherThreads)
{
    std::vector<int> order;
    std::vector<bool> onMain;
    OperationQueue worker;
    worker.addOperation([&] {
        for (int i = 0; i < 5; ++i)
            MainQueue::dispatchAsync([&, i] {
                order.push_back(i);
                onMain.push_back(MainQueue::isCurrent());
            });
    });
    ASSERT_TRUE(waitFor([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int> { 0, 1, 2, 3, 4 }));
    EXPECT_EQ(onMain, std::vector<bool>(5, true));
}

TEST(MainQueue, DropsWorkWhoseContextDiedBeforeItRan)
{
    bool ran = false;
    bool other = false;
    auto* context = new QObject;
    MainQueue::dispatchAsync([&] { ran = true; }, context);
    MainQueue::dispatchAsync([&] { other = true; });
    delete context;
    ASSERT_TRUE(waitFor([&] { return other; }));
    EXPECT_FALSE(ran);
}

TEST(MainQueue, DispatchAfterWaitsForTheVirtualClock)
{
    VirtualClockScope scope;
    std::vector<QString> fired;
    MainQueue::dispatchAfter(300, [&] { fired.push_back(QStringLiteral("refresh")); });
    MainQueue::dispatchAfter(3, [&] { fired.push_back(QStringLiteral("banner")); });
    TestSupport::processEvents();
    EXPECT_TRUE(fired.empty());

    scope.clock.advance(2.9);
    EXPECT_TRUE(fired.empty());
    scope.clock.advance(0.1);
    EXPECT_EQ(fired, std::vector<QString> { QStringLiteral("banner") });
    scope.clock.advance(297);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[1], QStringLiteral("refresh"));
    EXPECT_EQ(scope.clock.pendingCount(), 0u);
}

TEST(MainQueue, ARearmingChainRunsOncePerPeriodAndStopsWithItsOwner)
{
    VirtualClockScope scope;
    int ticks = 0;
    auto* owner = new QObject;
    std::function<void()> arm;
    arm = [&] {
        MainQueue::dispatchAfter(
            300,
            [&] {
                ++ticks;
                arm();
            },
            owner);
    };
    arm();
    scope.clock.advance(300 * 4 + 1);
    EXPECT_EQ(ticks, 4);
    delete owner;
    scope.clock.advance(3000);
    EXPECT_EQ(ticks, 4);
}

TEST(MainQueue, DispatchAfterFromAWorkerThreadIsScheduledOnTheMainClock)
{
    VirtualClockScope scope;
    bool fired = false;
    OperationQueue worker;
    worker.addOperation(
        [&] { MainQueue::dispatchAfter(5, [&] { fired = MainQueue::isCurrent(); }); });
    worker.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(waitFor([&] { return scope.clock.pendingCount() == 1; }));
    scope.clock.advance(5);
    EXPECT_TRUE(fired);
}

TEST(OperationQueue, RunsOperationsOneAtATimeInOrderOffTheMainThread)
{
    OperationQueue queue(QStringLiteral("test"));
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running { 0 };
    std::atomic<int> maxRunning { 0 };
    std::atomic<bool> sawMain { false };
    // Added from several threads at once; each thread's own order must hold.
    std::vector<std::thread> adders;
    for (int t = 0; t < 4; ++t) {
        adders.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                queue.addOperation([&, t, i] {
                    const int now = ++running;
                    maxRunning = std::max(maxRunning.load(), now);
                    sawMain = sawMain || MainQueue::isCurrent() || !queue.isCurrent();
                    {
                        std::lock_guard lock(mutex);
                        order.push_back(t * 1000 + i);
                    }
                    --running;
                });
            }
        });
    }
    for (auto& a : adders)
        a.join();
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_EQ(order.size(), 200u);
    EXPECT_EQ(maxRunning.load(), 1);
    EXPECT_FALSE(sawMain.load());
    std::vector<int> last(4, -1);
    for (int v : order) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
}

TEST(OperationQueue, FinishesQueuedOperationsBeforeItGoes)
{
    std::atomic<int> ran { 0 };
    {
        OperationQueue queue;
        for (int i = 0; i < 100; ++i)
            queue.addOperation([&] { ++ran; });
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(OperationQueue, CanBeDestroyedFromItsOwnOperation)
{
    std::atomic<bool> done { false };
    auto* queue = new OperationQueue;
    queue->addOperation([&] {
        EXPECT_EQ(OperationQueue::current(), queue);
        delete queue;
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
}

TEST(OperationQueue, OperationsLeftAfterItsOwnOperationDestroyedItSeeNoQueue)
{
    std::atomic<bool> queued { false };
    std::atomic<bool> done { false };
    std::atomic<bool> sawGoneQueue { true };
    auto* queue = new OperationQueue;
    queue->addOperation([&] {
        while (!queued.load())
            std::this_thread::yield();
    });
    queue->addOperation([&] { delete queue; });
    queue->addOperation([&] {
        sawGoneQueue = OperationQueue::current() != nullptr;
        done = true;
    });
    queued = true;
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    EXPECT_FALSE(sawGoneQueue.load());
}

TEST(OperationQueue, AnOperationThatThrowsDoesNotStopTheQueue)
{
    OperationQueue queue;
    std::atomic<bool> after { false };
    queue.addOperation([] { throw std::runtime_error("boom"); });
    queue.addOperation([&] { after = true; });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(after.load());
}

TEST(OperationQueue, ManyQueuesShareABoundedSetOfThreadsAndStaySerial)
{
    constexpr int queues = 300;
    std::vector<std::unique_ptr<OperationQueue>> all;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> overlaps { 0 };
    std::atomic<int> done { 0 };
    std::vector<std::atomic<int>> running(queues);
    for (int q = 0; q < queues; ++q) {
        all.push_back(std::make_unique<OperationQueue>());
        for (int i = 0; i < 5; ++i) {
            all.back()->addOperation([&, q, queue = all.back().get()] {
                overlaps += ++running[q] > 1 || !queue->isCurrent()
                    || OperationQueue::current() != queue;
                {
                    std::lock_guard lock(mutex);
                    threads.insert(std::this_thread::get_id());
                }
                std::this_thread::yield();
                --running[q];
                ++done;
            });
        }
    }
    for (auto& queue : all)
        queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), queues * 5);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_LE(threads.size(), 32u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(OperationQueue, OperationsWaitingOnOtherQueuesNeverHoldUpThePool)
{
    // More operations than the pool has threads wait on a queue that cannot finish yet, some by
    // waiting on it, some by destroying a queue whose operation waits on it.
    std::promise<void> open;
    const std::shared_future<void> opened = open.get_future().share();
    OperationQueue gate;
    gate.addOperation([opened] { opened.wait_for(std::chrono::seconds(30)); });
    std::vector<std::unique_ptr<OperationQueue>> waiters;
    for (int i = 0; i < 40; ++i) {
        waiters.push_back(std::make_unique<OperationQueue>());
        waiters.back()->addOperation([&gate, i] {
            if (i % 2 == 0) {
                gate.waitUntilAllOperationsAreFinished();
                return;
            }
            auto inner = std::make_unique<OperationQueue>();
            inner->addOperation([&gate] { gate.waitUntilAllOperationsAreFinished(); });
            inner.reset();
        });
    }
    std::atomic<bool> ran { false };
    OperationQueue other;
    other.addOperation([&] { ran = true; });
    EXPECT_TRUE(waitFor([&] { return ran.load(); }));
    open.set_value();
    for (auto& queue : waiters)
        queue->waitUntilAllOperationsAreFinished();

    // On its own queue the wait cannot end; it returns instead of hanging.
    std::atomic<bool> returned { false };
    other.addOperation([&] {
        other.addOperation([] {});
        other.waitUntilAllOperationsAreFinished();
        returned = true;
    });
    other.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(returned.load());
}

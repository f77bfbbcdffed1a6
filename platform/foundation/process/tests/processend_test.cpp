#include "platform/foundation/base/OperationQueue.h"
#include "platform/foundation/process/ProcessEnd.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

using namespace Tickerly::Foundation;

using namespace std::chrono_literals;

namespace {

// What a child process saw, printed for the failure message; its exit code says whether all held.
void report(const char* what, bool held, bool& all)
{
    std::fprintf(stderr, "%s: %s\n", what, held ? "yes" : "NO");
    all = all && held;
}

} // namespace

// Ending background work holds for the rest of the process: each case runs in a fresh child.
TEST(ProcessEnd, RunningOperationsEndQueuedAndLaterOnesNeverRunAndNoQueueHangs)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::promise<void> release;
            const std::shared_future<void> released = release.get_future().share();
            std::promise<void> firstStarted;
            std::promise<void> secondStarted;
            std::atomic<int> ranAfterwards = 0;
            std::atomic<int> ranToTheEnd = 0;
            auto queue = std::make_unique<OperationQueue>();
            OperationQueue other;
            queue->addOperation([&] {
                firstStarted.set_value();
                released.wait();
                ++ranToTheEnd;
            });
            queue->addOperation([&] { ++ranAfterwards; });
            other.addOperation([&] {
                secondStarted.set_value();
                released.wait();
                ++ranToTheEnd;
            });
            other.addOperation([&] { ++ranAfterwards; });
            firstStarted.get_future().wait();
            secondStarted.get_future().wait();

            OperationQueue::stopStartingOperations();
            bool all = true;
            report("a bound that passes while operations run is told",
                !OperationQueue::waitUntilNoOperationRuns(std::chrono::steady_clock::now()), all);
            release.set_value();
            report("the running operations are waited for", endBackgroundWork(60s), all);
            report("both ran to their end", ranToTheEnd == 2, all);

            queue->addOperation([&] { ++ranAfterwards; });
            queue->waitUntilAllOperationsAreFinished();
            other.waitUntilAllOperationsAreFinished();
            queue.reset();
            report("no queued or later operation ran", ranAfterwards == 0, all);
            std::fflush(stderr);
            std::_Exit(all ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// A program's end: once its work has ended, main returns and destructors run as usual; while a
// worker still runs past the bound, the process ends there and then, the store's writes done,
// and no destructor runs under the worker.
TEST(ProcessEnd, AProgramWhoseWorkOutlastsTheBoundEndsWithoutRunningDestructors)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto endingWith = [](bool workEnds) {
        static struct Noisy {
            ~Noisy() { std::fputs("destroyed\n", stderr); }
        } noisy;
        static std::promise<void> started;
        static std::promise<void> release;
        static OperationQueue queue;
        queue.addOperation([] {
            started.set_value();
            release.get_future().wait();
        });
        started.get_future().wait();
        if (workEnds)
            release.set_value();
        std::exit(endProgram(3, 500ms, 100ms));
    };
    EXPECT_EXIT(endingWith(true), testing::ExitedWithCode(3), "destroyed");
    EXPECT_EXIT(endingWith(false), testing::ExitedWithCode(3),
        testing::AllOf(testing::HasSubstr("the program ends anyway"),
            testing::Not(testing::HasSubstr("destroyed"))));
}

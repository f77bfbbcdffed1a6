#include "platform/foundation/process/TerminationSignals.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include <unistd.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

TEST(TerminationSignals, ASignalQuitsOnTheMainThreadAndASecondIsNoLongerCaught)
{
    std::thread::id ranOn;
    int runs = 0;
    onTerminationSignals([&] {
        ranOn = std::this_thread::get_id();
        ++runs;
    });
    // From another thread, as the kernel may deliver it to any.
    std::thread([] { ::kill(::getpid(), SIGTERM); }).join();
    ASSERT_TRUE(TestSupport::waitFor([&] { return runs > 0; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(runs, 1);
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        struct sigaction now { };
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << signal;
    }
}

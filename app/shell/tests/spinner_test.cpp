#include "app/shell/Spinner.h"

#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

class SpinnerTest : public testing::Test {
protected:
    void SetUp() override { MainQueue::setClock(&clock); }
    void TearDown() override { MainQueue::setClock(nullptr); }

    static QImage frame(int n) { return imageNamed(Spinner::frameName(n)); }

    VirtualClock clock;
};

TEST_F(SpinnerTest, StartsStillOnTheRestFrameAndShowsOneFrameByNumber)
{
    Spinner spinner;
    ASSERT_TRUE(spinner.image());
    EXPECT_EQ(*spinner.image(), imageNamed(u"Wave_small_00000"_s));
    ASSERT_EQ(spinner.anim()->size(), 128);
    clock.advance(1.0);
    EXPECT_EQ(*spinner.image(), frame(0));

    spinner.setProgress(7);
    EXPECT_EQ(*spinner.image(), imageNamed(u"Wave_small_00007"_s));
    spinner.setProgress(127);
    EXPECT_EQ(*spinner.image(), frame(127));
    // Outside the sequence: nothing ("Wave_small_-0003" names no picture).
    spinner.setProgress(128);
    EXPECT_FALSE(spinner.image());
    spinner.setProgress(-3);
    EXPECT_FALSE(spinner.image());
    EXPECT_EQ(Spinner::frameName(-3), u"Wave_small_-0003"_s);
}

TEST_F(SpinnerTest, LoopsAtSixtyFramesASecondUntilStoppedOrGivenAFrame)
{
    Spinner spinner;
    spinner.startAnimating();
    EXPECT_EQ(*spinner.image(), frame(0));
    EXPECT_EQ(spinner.sequenceName(), u"spinner"_s);
    clock.advance(1.0 / 60 + 1e-9);
    EXPECT_EQ(*spinner.image(), frame(1));
    // A full turn of 128 frames takes about 2.13 s and starts over.
    clock.advance(127.0 / 60);
    EXPECT_EQ(*spinner.image(), frame(0));
    clock.advance(5.0 / 60);
    EXPECT_EQ(*spinner.image(), frame(5));

    spinner.stopAnimating();
    EXPECT_EQ(*spinner.image(), frame(0));
    clock.advance(1.0);
    EXPECT_EQ(*spinner.image(), frame(0));

    spinner.startAnimating();
    clock.advance(10.0 / 60 + 1e-9);
    spinner.setProgress(90);
    clock.advance(1.0);
    EXPECT_EQ(*spinner.image(), frame(90));
    EXPECT_EQ(clock.pendingCount(), 0u);
}

} // namespace

#include "app/sources/IntroductionView.h"
#include "app/sources/NoFeedsView.h"
#include "app/sources/tests/SourcesTesting.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/ImageView.h"

#include <QLabel>

#include <algorithm>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace SourcesTesting;

namespace {

// How many of the welcome wave's frames the named-picture cache holds ("Wave_small_" frames
// are the spinner's).
qsizetype keptWaveFrames()
{
    const QStringList kept = keptImageNames();
    return std::count_if(
        kept.begin(), kept.end(), [](const QString& name) { return name.startsWith(u"Wave_0"_s); });
}

QImage waveFrame(int index)
{
    return imageNamedUncached(u"Wave_%1"_s.arg(index, 5, 10, QChar(u'0')));
}

} // namespace

TEST(WelcomeScreen, PlaysTheWaveOnlyWhileShownAndRestartsItOnEachShow)
{
    VirtualTime time;
    testing::internal::CaptureStdout();
    NoFeedsParentView welcome;
    NoFeedsView* content = welcome.contentView();
    ImageView* wave = content->imageView();
    EXPECT_EQ(content->counter(), 1);
    EXPECT_EQ(wave->sequenceName(), u"wave 0"_s);
    ASSERT_TRUE(wave->images());
    EXPECT_EQ(wave->images()->size(), 128);
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00000"_s));
    time.advance(1.0 / 24);
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00001"_s));

    welcome.setHidden(false);
    welcome.setHidden(false);
    EXPECT_EQ(content->counter(), 3);
    EXPECT_EQ(wave->sequenceName(), u"wave 2"_s);
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00000"_s)) << "from the first frame again";
    const std::size_t chains = time.clock.pendingCount();
    time.advance(2.0 / 24);
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00002"_s)) << "one chain advances it";
    EXPECT_LE(time.clock.pendingCount(), chains);

    welcome.setHidden(true);
    EXPECT_TRUE(content->isHidden());
    EXPECT_EQ(wave->sequenceName(), u"none"_s);
    EXPECT_TRUE(!wave->images() || wave->images()->isEmpty());
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00002"_s)) << "the last frame stays";
    time.advance(1);
    EXPECT_EQ(time.clock.pendingCount(), 0u);
    testing::internal::GetCapturedStdout();
}

TEST(WelcomeScreen, RestsItsWaveWhileItsWindowIsClosed)
{
    VirtualTime time;
    testing::internal::CaptureStdout();
    QWidget window;
    auto* welcome = new NoFeedsParentView(&window);
    welcome->setHidden(false);
    window.show();
    ImageView* wave = welcome->contentView()->imageView();
    time.advance(1.0 / 24);
    ASSERT_TRUE(wave->images() && !wave->images()->isEmpty());

    // Closed (the launch window's controller lives on): nothing is left ticking.
    window.close();
    time.advance(1);
    EXPECT_EQ(time.clock.pendingCount(), 0u);
    EXPECT_FALSE(welcome->isHidden());

    // Open again: the wave plays from its first frame.
    window.show();
    ASSERT_TRUE(wave->images() && !wave->images()->isEmpty());
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00000"_s));
    time.advance(1.0 / 24);
    EXPECT_EQ(*wave->image(), imageNamed(u"Wave_00001"_s));

    // Hidden by its owner while the window was closed: it stays still when the window opens.
    window.close();
    welcome->setHidden(true);
    window.show();
    time.advance(1);
    EXPECT_EQ(time.clock.pendingCount(), 0u);
    testing::internal::GetCapturedStdout();
}

TEST(WelcomeScreen, KeepsOnlyTheFrameOnScreenThroughWholeTurnsOfTheWave)
{
    VirtualTime time;
    testing::internal::CaptureStdout();
    NoFeedsParentView welcome;
    welcome.setHidden(false);
    ImageView* wave = welcome.contentView()->imageView();
    ASSERT_EQ(*wave->image(), waveFrame(0));
    // Two turns and a little more, every step showing its own frame.
    for (int step = 1; step <= 2 * 128 + 3; ++step) {
        time.clock.advance(1.0 / 24);
        ASSERT_EQ(*wave->image(), waveFrame(step % 128)) << "at step " << step;
    }
    EXPECT_EQ(keptWaveFrames(), 0);

    // Stopped and started again: still from the first frame, still nothing kept.
    welcome.setHidden(true);
    welcome.setHidden(false);
    EXPECT_EQ(*wave->image(), waveFrame(0));
    time.clock.advance(1.0 / 24);
    EXPECT_EQ(*wave->image(), waveFrame(1));
    EXPECT_EQ(keptWaveFrames(), 0);
    testing::internal::GetCapturedStdout();
}

TEST(WelcomeScreen, MakesItsContentOnlyWhenItFirstShows)
{
    VirtualTime time;
    testing::internal::CaptureStdout();
    QWidget window;
    auto* welcome = new NoFeedsParentView(&window);
    welcome->setHidden(true);
    welcome->setHidden(true);
    window.show();
    time.advance(1);
    EXPECT_FALSE(welcome->hasContentView());
    EXPECT_TRUE(welcome->findChildren<QWidget*>().isEmpty());
    EXPECT_FALSE(keptImageNames().contains(u"wave mask"_s));
    EXPECT_EQ(time.clock.pendingCount(), 0u);

    // Shown in a window already on screen: laid out, playing from its first frame, once.
    welcome->resize(600, 500);
    welcome->setHidden(false);
    ASSERT_TRUE(welcome->hasContentView());
    NoFeedsView* content = welcome->contentView();
    EXPECT_TRUE(content->isVisible());
    AppKit::layoutSubtreeIfNeeded(welcome);
    EXPECT_EQ(content->width(), 600);
    EXPECT_EQ(content->imageView()->size(), QSize(300, 300));
    EXPECT_EQ(*content->imageView()->image(), waveFrame(0));
    const std::int64_t started = content->counter();
    time.clock.advance(2.0 / 24);
    EXPECT_EQ(*content->imageView()->image(), waveFrame(2)) << "one chain advances it";
    EXPECT_EQ(content->counter(), started);

    // A container shown with its window makes its content then.
    QWidget other;
    auto* shownWithWindow = new NoFeedsParentView(&other);
    EXPECT_FALSE(shownWithWindow->hasContentView());
    other.show();
    ASSERT_TRUE(shownWithWindow->hasContentView());
    EXPECT_TRUE(shownWithWindow->contentView()->isVisible());
    EXPECT_TRUE(
        shownWithWindow->contentView()->imageView()->sequenceName()->startsWith(u"wave "_s));
    testing::internal::GetCapturedStdout();
}

TEST(WelcomeScreen, AnimatesTheFramesThatExistWhenSomeAreMissing)
{
    const QStringList some = NoFeedsView::waveFrameNames(
        [](const QString& name) { return name.mid(5).toInt() % 2 == 0; });
    ASSERT_EQ(some.size(), 64);
    EXPECT_EQ(some[0], u"Wave_00000"_s);
    EXPECT_EQ(some[1], u"Wave_00002"_s);
    EXPECT_EQ(some[63], u"Wave_00126"_s);
    EXPECT_TRUE(NoFeedsView::waveFrameNames([](const QString&) { return false; }).isEmpty());
}

TEST(WelcomeScreen, CentresTheMaskedWaveAndTheTextsOnAnAlmostWhiteGround)
{
    testing::internal::CaptureStdout();
    NoFeedsParentView welcome;
    welcome.resize(600, 500);
    welcome.show();
    TestSupport::processEvents();
    AppKit::layoutSubtreeIfNeeded(&welcome);
    NoFeedsView* content = welcome.contentView();
    EXPECT_EQ(content->geometry().width(), 600);
    EXPECT_NEAR(content->geometry().center().y(), 250, 1);
    const QRect image = content->imageView()->geometry();
    EXPECT_EQ(image.size(), QSize(300, 300));
    EXPECT_EQ(image.top(), 0);
    EXPECT_NEAR(image.center().x(), 300, 1);
    const QRect title = content->welcomeTitle()->geometry();
    const QRect text = content->welcomeText()->geometry();
    EXPECT_EQ(title.top(), image.bottom() + 1 + 10);
    EXPECT_EQ(text.top(), title.bottom() + 1 + 10);
    EXPECT_EQ(text.bottom() + 1, content->height());
    EXPECT_NEAR(title.center().x(), 300, 1);
    EXPECT_NEAR(text.center().x(), 300, 1);
    EXPECT_EQ(content->welcomeTitle()->text(), u"No feeds yet"_s);

    const QImage shot = welcome.grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    const QPoint corner = content->mapTo(&welcome, image.topLeft() + QPoint(3, 3)) * dpr;
    EXPECT_EQ(shot.pixelColor(corner), QColor(250, 250, 250)) << "the mask hides the corners";
    EXPECT_EQ(shot.pixelColor(QPoint(5, 5) * dpr), QColor(250, 250, 250));
    const QPoint middle = content->mapTo(&welcome, image.center()) * dpr;
    EXPECT_NE(shot.pixelColor(middle), QColor(250, 250, 250)) << "the wave shows inside";
    testing::internal::GetCapturedStdout();
}

TEST(IntroductionView, PopsItsStepsInOneAfterAnother)
{
    VirtualTime time;
    IntroductionView help;
    auto* step1 = new StepImageView(imageNamed(u"Installing step 1"_s), &help);
    auto* step3 = new StepImageView(imageNamed(u"Installing step 3"_s), &help);
    auto* flat = new StepImageView(imageNamed(u"Installing step 2"_s), &help);
    for (StepImageView* step : { step1, step3 })
        step->setWantsLayer(true);
    auto* title = new QLabel(&help);
    help.setStep1(step1);
    help.setStep3(step3);
    help.setTitle(title);
    help.awakeFromNib();
    EXPECT_EQ(title->text(), u"Add Tickerly to your widget panel"_s);
    EXPECT_DOUBLE_EQ(step1->scale(), 0.01);
    EXPECT_DOUBLE_EQ(step3->scale(), 0.01);
    EXPECT_DOUBLE_EQ(flat->scale(), 1.0) << "a step without a layer is never scaled";

    // Step 2 is missing: steps 1 and 3 still pop at 0.5 and 1.5 s.
    time.advance(0.65);
    EXPECT_GT(step1->scale(), 0.01);
    EXPECT_LT(step1->scale(), 1.1);
    time.advance(0.2); // 0.85 s: grown, settling back
    EXPECT_GT(step1->scale(), 1.0);
    EXPECT_LE(step1->scale(), 1.1);
    time.advance(0.25); // 1.1 s
    EXPECT_DOUBLE_EQ(step1->scale(), 1.0);
    EXPECT_DOUBLE_EQ(step3->scale(), 0.01);
    time.advance(1.0); // 2.1 s
    EXPECT_DOUBLE_EQ(step3->scale(), 1.0);
    EXPECT_DOUBLE_EQ(flat->scale(), 1.0);

    help.resize(200, 100);
    const QImage shot = help.grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() - 2, shot.height() - 2), QColor(51, 51, 51));
}

#include "storylist/ImageView.h"

#include "platform/foundation/base/Clock.h"
#include "platform/foundation/base/MainQueue.h"
#include "testsupport/TestSupport.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly::Foundation;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// An image whose columns are split in `colours.size()` equal bands.
QImage bands(QSize size, const QList<QColor>& colours)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    const int band = size.width() / colours.size();
    for (int i = 0; i < colours.size(); ++i)
        painter.fillRect(i * band, 0, band, size.height(), colours[i]);
    return image;
}

QImage render(QWidget& view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

class ImageViewSequence : public testing::Test {
protected:
    void SetUp() override { MainQueue::setClock(&clock); }
    void TearDown() override { MainQueue::setClock(nullptr); }

    // Which of `frames` the view shows (-1: none of them).
    static int shown(const ImageView& view, const QList<QImage>& frames)
    {
        const auto image = view.image();
        return image ? frames.indexOf(*image) : -1;
    }

    VirtualClock clock;
    const QList<QImage> a { filled({ 4, 4 }, Qt::red), filled({ 4, 4 }, Qt::green),
        filled({ 4, 4 }, Qt::blue), filled({ 4, 4 }, Qt::yellow) };
    const QList<QImage> b { filled({ 4, 4 }, Qt::cyan), filled({ 4, 4 }, Qt::magenta) };
};

} // namespace

TEST(ImageView, CoversItsBoundsCentredAndCutsTheExcess)
{
    ImageView view;
    view.resize(100, 50);
    EXPECT_EQ(view.intrinsicContentSize(), QSize(0, 0));
    EXPECT_EQ(render(view).pixelColor(50, 25).alpha(), 0) << "no image draws nothing";

    // Twice as wide, as high: drawn at scale 1, a quarter cut off each side.
    view.setImage(bands({ 200, 50 }, { Qt::red, Qt::green, Qt::green, Qt::blue }));
    QImage image = render(view);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(99, 49), QColor(Qt::green));
    EXPECT_EQ(view.intrinsicContentSize(), QSize(200, 50));

    // Half the size both ways: drawn at scale 2, filling the view exactly.
    view.setImage(bands({ 50, 25 }, { Qt::red, Qt::blue }));
    image = render(view);
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(48, 24), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(52, 24), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(99, 49), QColor(Qt::blue));

    // A picture drawn at twice its points reports its size in points.
    QImage retina = filled({ 32, 32 }, Qt::white);
    retina.setDevicePixelRatio(2);
    view.setImage(retina);
    EXPECT_EQ(view.intrinsicContentSize(), QSize(16, 16));
}

TEST_F(ImageViewSequence, StepsThroughItsFramesAtTheFrameRateAndWrapsAround)
{
    ImageView view;
    testing::internal::CaptureStdout();
    view.animateSequence(a, u"spin"_s, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Animating spin 4\n");

    QList<int> seen { shown(view, a) };
    for (int i = 0; i < 5; ++i) {
        clock.advance(0.2499);
        EXPECT_EQ(shown(view, a), seen.last()) << "not before a quarter second";
        clock.advance(0.0001);
        seen.append(shown(view, a));
    }
    EXPECT_EQ(seen, (QList<int> { 0, 1, 2, 3, 0, 1 }));
    EXPECT_EQ(clock.pendingCount(), 1u);

    // A picture set directly stays until the next step.
    const QImage still = filled({ 4, 4 }, Qt::gray);
    view.setImage(still);
    clock.advance(0.2);
    EXPECT_EQ(view.image(), still);
    clock.advance(0.05);
    EXPECT_EQ(shown(view, a), 2);
}

TEST_F(ImageViewSequence, ANewSequenceReplacesTheRunningOneEvenUnderTheSameName)
{
    ImageView view;
    view.animateSequence(a, u"A"_s, 4);
    clock.advance(0.1);
    view.animateSequence(b, u"B"_s, 4);
    EXPECT_EQ(shown(view, b), 0) << "B starts at once";
    clock.advance(0.15); // A's pending step runs and ends its chain
    EXPECT_EQ(shown(view, b), 0);
    EXPECT_EQ(clock.pendingCount(), 1u);
    clock.advance(0.1);
    EXPECT_EQ(shown(view, b), 1);

    // Restarting under the running name leaves one chain, not two at double speed.
    view.animateSequence(a, u"B"_s, 4);
    clock.advance(0.1);
    EXPECT_EQ(shown(view, a), 0);
    clock.advance(0.15);
    EXPECT_EQ(shown(view, a), 1);
    EXPECT_EQ(clock.pendingCount(), 1u);
    clock.advance(0.25);
    EXPECT_EQ(shown(view, a), 2);

    // No frames stop it; whatever is set afterwards stays.
    view.animateSequence(std::nullopt, u""_s);
    const QImage still = filled({ 4, 4 }, Qt::gray);
    view.setImage(still);
    clock.advance(5);
    EXPECT_EQ(view.image(), still);
    EXPECT_EQ(clock.pendingCount(), 0u);
    view.animateSequence(QList<QImage>(), u"empty"_s);
    EXPECT_EQ(view.image(), still);
}

TEST_F(ImageViewSequence, BadRatesAndIndexesAndReleasedViewsEndCleanly)
{
    auto view = std::make_unique<ImageView>();
    // A rate below 1 plays at 1 frame per second rather than dividing by zero.
    view->animateSequence(a, u"slow"_s, 0);
    clock.advance(0.999);
    EXPECT_EQ(shown(*view, a), 0);
    clock.advance(0.001);
    EXPECT_EQ(shown(*view, a), 1);
    view->animateSequence(a, u"negative"_s, -24);
    clock.advance(1);
    EXPECT_EQ(shown(*view, a), 1);

    // Frames swapped for fewer under a running chain: the step starts over at frame 0.
    view->animateSequence(a, u"swap"_s, 4);
    clock.advance(0.5); // next index 3
    view->setImages(b);
    clock.advance(0.25);
    EXPECT_EQ(shown(*view, b), 0);
    view->setNextImageIndex(-7);
    clock.advance(0.25);
    EXPECT_EQ(shown(*view, b), 0);

    // Released mid-sequence: the chain ends at its next step.
    view.reset();
    clock.advance(1);
    EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST_F(ImageViewSequence, ASequenceReadAsItPlaysReadsEachFrameOnlyWhenAStepShowsIt)
{
    ImageView view;
    QList<qsizetype> read;
    const auto reader = [&](qsizetype i) {
        read << i;
        return a.at(i);
    };
    testing::internal::CaptureStdout();
    view.animateSequence(a.size(), reader, u"lazy"_s, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Animating lazy 4\n");
    EXPECT_EQ(read, QList<qsizetype> { 0 }) << "only the frame shown at once";
    EXPECT_EQ(shown(view, a), 0);
    clock.advance(1.0); // four steps: 1, 2, 3, then round to 0
    EXPECT_EQ(read, (QList<qsizetype> { 0, 1, 2, 3, 0 }));
    EXPECT_EQ(shown(view, a), 0);
    EXPECT_EQ(view.images(), a) << "asked for, the frames are read whole";

    // Stopped, or replaced by a list: the reader is not asked again.
    read.clear();
    view.animateSequence(b, u"list"_s, 4);
    clock.advance(0.25);
    EXPECT_EQ(shown(view, b), 1);
    view.animateSequence(a.size(), reader, u"again"_s, 4);
    view.animateSequence(std::nullopt, u"none"_s);
    clock.advance(1);
    EXPECT_EQ(read, QList<qsizetype> { 0 });
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_FALSE(view.images());

    // No frames, or nothing to read them with: nothing is shown or scheduled.
    view.animateSequence(0, reader, u"empty"_s);
    view.animateSequence(3, nullptr, u"unread"_s);
    EXPECT_EQ(shown(view, a), 0);
    EXPECT_EQ(clock.pendingCount(), 0u);
    EXPECT_EQ(read, QList<qsizetype> { 0 });
}

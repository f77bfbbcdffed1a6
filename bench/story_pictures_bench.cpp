// The memory twenty stories' pictures cost as the story list holds them: each story loads its
// picture from a loopback site, as a refresh's list does, and keeps it. Five kinds of picture,
// from an ordinary small one to a camera photo and files announcing huge pictures in few bytes.
// Run one case per process (--benchmark_filter): the peak is the process's.
//
// Beside it, the time one camera photo takes to decode as a story's picture, and whole.

#include "PeakMemory.h"

#include "data/model/NewsStory.h"
#include "data/sync/UrlLoadingDecoders_p.h"
#include "platform/foundation/network/UrlSession.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int storyCount = 20;

QImage filled(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    return image;
}

// A 1024 by 1024 PNG of one colour, some 4 KB: the ordinary picture the others compare with.
QByteArray smallPng() { return TestSupport::encodedImage(filled(1024, 1024), "PNG"); }

// A 6000 by 4000 sequential JPEG of some 3 MB, as a camera writes: smooth shades with grain.
QByteArray cameraJpeg()
{
    QImage image(6000, 4000, QImage::Format_RGB32);
    QRandomGenerator noise(53);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(noise.bounded(24));
            line[x] = qRgb((x / 24 + grain) & 0xFF, (y / 16 + grain) & 0xFF, (x + y) / 40 & 0xFF);
        }
    }
    return TestSupport::encodedImage(image, "JPEG", false, 60);
}

// The same photo progressive, as many sites' optimisers write it.
QByteArray progressiveCameraJpeg()
{
    QBuffer buffer;
    buffer.setData(cameraJpeg());
    return TestSupport::encodedImage(QImageReader(&buffer).read(), "JPEG", true, 60);
}

// A GIF of 35 bytes whose canvas is 4096 by 4096.
QByteArray hugeGif() { return TestSupport::gifOfCanvas(QSize(4096, 4096)); }

// A 16384 by 2048 8-bit RGB PNG of one colour, some 130 KB.
QByteArray bannerPng() { return TestSupport::encodedImage(filled(16384, 2048), "PNG"); }

// The resident memory now, with the peak started afresh from it: making the input is not
// counted, nor the memory it freed, given back first.
double resetPeak()
{
    malloc_trim(0);
    resetPeakMemory();
    return peakMemoryMiB();
}

void storyPictures(benchmark::State& state, QByteArray (*make)())
{
    const QByteArray bytes = make();
    TestSupport::LoopbackServer server;
    for (int i = 0; i < storyCount; ++i)
        server.reply(u"/picture/%1"_s.arg(i), TestSupport::bodyReply(bytes));
    const auto source = std::make_shared<Source>(u"Pictures"_s, server.url(u"/feed"_s));
    const double before = resetPeak();
    QList<std::shared_ptr<NewsStory>> stories;
    for (auto _ : state) {
        stories.clear();
        const auto session = UrlSession::create();
        std::atomic<int> loaded = 0;
        for (int i = 0; i < storyCount; ++i) {
            auto story = std::make_shared<NewsStory>(u"Story %1"_s.arg(i), u"Body"_s,
                Url::fromString(u"http://pictures.test/%1"_s.arg(i)), QDateTime(), source);
            story->setImageLink(Url::fromString(server.url(u"/picture/%1"_s.arg(i))));
            story->loadImage(session, {}, [&loaded] { ++loaded; });
            stories.append(std::move(story));
        }
        if (!TestSupport::waitFor([&loaded] { return loaded == storyCount; }, 600'000))
            state.SkipWithError("the pictures did not all load");
        // Not before: a picture load may wait its turn unstarted.
        session->finishTasksAndInvalidate();
    }
    qint64 held = 0;
    QSize size;
    for (const auto& story : std::as_const(stories)) {
        const QImage image = story->image();
        held += image.sizeInBytes();
        size = image.isNull() ? size : image.size();
    }
    malloc_trim(0);
    state.counters["file_KiB"] = double(bytes.size()) / 1024;
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
    state.counters["held_MiB"] = double(held) / (1024 * 1024);
    state.counters["resident_above_before_MiB"] = residentMemoryMiB() - before;
    state.counters["peak_above_before_MiB"] = peakMemoryMiB() - before;
}

void StoryPicturesPng1024x1024(benchmark::State& state) { storyPictures(state, smallPng); }
BENCHMARK(StoryPicturesPng1024x1024)->Iterations(1)->Unit(benchmark::kMillisecond);

void StoryPicturesJpeg6000x4000(benchmark::State& state) { storyPictures(state, cameraJpeg); }
BENCHMARK(StoryPicturesJpeg6000x4000)->Iterations(1)->Unit(benchmark::kMillisecond);

void StoryPicturesProgressiveJpeg6000x4000(benchmark::State& state)
{
    storyPictures(state, progressiveCameraJpeg);
}
BENCHMARK(StoryPicturesProgressiveJpeg6000x4000)->Iterations(1)->Unit(benchmark::kMillisecond);

void StoryPicturesGif4096x4096(benchmark::State& state) { storyPictures(state, hugeGif); }
BENCHMARK(StoryPicturesGif4096x4096)->Iterations(1)->Unit(benchmark::kMillisecond);

void StoryPicturesPng16384x2048(benchmark::State& state) { storyPictures(state, bannerPng); }
BENCHMARK(StoryPicturesPng16384x2048)->Iterations(1)->Unit(benchmark::kMillisecond);

const QByteArray& photo()
{
    static const QByteArray bytes = cameraJpeg();
    return bytes;
}

// The camera photo as a story's picture is read (at one pixel a point).
void DecodeJpeg6000x4000AsStoryPicture(benchmark::State& state)
{
    const QByteArray& bytes = photo();
    for (auto _ : state)
        benchmark::DoNotOptimize(UrlLoadingDecoders::image(bytes));
}
BENCHMARK(DecodeJpeg6000x4000AsStoryPicture)->Unit(benchmark::kMillisecond);

// The same photo read whole, as the reader gives it.
void DecodeJpeg6000x4000Whole(benchmark::State& state)
{
    const QByteArray& bytes = photo();
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer);
        benchmark::DoNotOptimize(reader.read());
    }
}
BENCHMARK(DecodeJpeg6000x4000Whole)->Unit(benchmark::kMillisecond);

} // namespace

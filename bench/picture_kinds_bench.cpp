// One picture decoded as a story's picture (UrlLoadingDecoders::image, two pixels a point), for
// each kind sites and cameras send at full size: progressive and sequential 6000 by 4000 JPEG,
// 6000 by 4000 palette and gray PNG, 4000 by 3000 16-bit PNG. The pictures are made here, with
// grain so that they compress as photos do. Run one case per process (--benchmark_filter): the
// peak is the process's, reset after the input is made.

#include "PeakMemory.h"

#include "data/sync/UrlLoadingDecoders_p.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <malloc.h>

using namespace Tickerly::Data;

namespace {

QByteArray encoded(const QImage& image, const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    if (qstrcmp(format, "JPEG") == 0)
        writer.setQuality(60);
    writer.write(image);
    return bytes;
}

// Smooth shades with grain, as a camera's photo; fainter grain for the pictures kept in PNG,
// which stay within what a picture's download may be (10 MiB).
QImage photo(int width, int height, QImage::Format format = QImage::Format_RGB32, int grain = 24)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator noise(53);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int g = int(noise.bounded(grain));
            line[x] = qRgb((x / 24 + g) & 0xFF, (y / 16 + g) & 0xFF, (x + y) / 40 & 0xFF);
        }
    }
    return format == QImage::Format_RGB32 ? image : image.convertToFormat(format);
}

// A 256-colour picture, as an optimiser writes a photo to a palette.
QImage palettePhoto(int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> colours;
    for (int i = 0; i < 256; ++i)
        colours.append(qRgb(i, (i * 7) & 0xFF, 255 - i));
    image.setColorTable(colours);
    QRandomGenerator noise(53);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x)
            line[x] = uchar((x / 24 + y / 16 + int(noise.bounded(2))) & 0xFF);
    }
    return image;
}

void decode(benchmark::State& state, const QByteArray& bytes)
{
    malloc_trim(0);
    resetPeakMemory();
    const double before = peakMemoryMiB();
    QSize size;
    for (auto _ : state) {
        const std::optional<QImage> picture = UrlLoadingDecoders::image(bytes, 2);
        size = picture ? picture->size() : QSize();
        benchmark::DoNotOptimize(picture);
    }
    state.counters["file_KiB"] = double(bytes.size()) / 1024;
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
    state.counters["peak_above_before_MiB"] = peakMemoryMiB() - before;
}

void ProgressiveJpeg6000x4000(benchmark::State& state)
{
    decode(state, encoded(photo(6000, 4000), "JPEG", true));
}
BENCHMARK(ProgressiveJpeg6000x4000)->Iterations(5)->Unit(benchmark::kMillisecond);

void SequentialJpeg6000x4000(benchmark::State& state)
{
    decode(state, encoded(photo(6000, 4000), "JPEG"));
}
BENCHMARK(SequentialJpeg6000x4000)->Iterations(5)->Unit(benchmark::kMillisecond);

void PalettePng6000x4000(benchmark::State& state)
{
    decode(state, encoded(palettePhoto(6000, 4000), "PNG"));
}
BENCHMARK(PalettePng6000x4000)->Iterations(5)->Unit(benchmark::kMillisecond);

void GrayPng6000x4000(benchmark::State& state)
{
    decode(state, encoded(photo(6000, 4000, QImage::Format_Grayscale8, 3), "PNG"));
}
BENCHMARK(GrayPng6000x4000)->Iterations(5)->Unit(benchmark::kMillisecond);

void DeepPng4000x3000(benchmark::State& state)
{
    decode(state, encoded(photo(4000, 3000, QImage::Format_RGBX64, 2), "PNG"));
}
BENCHMARK(DeepPng4000x3000)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

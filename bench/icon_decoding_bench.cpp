// Peak memory of decoding pictures offered as a site's icon that are far larger than any icon:
// a small file can announce a huge picture. Run one case per process: the peak is the process's.

#include "PeakMemory.h"

#include "data/sync/UrlLoadingDecoders_p.h"

#include <QBuffer>
#include <QFile>
#include <QCoreApplication>
#include <QImage>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <malloc.h>

using namespace Tickerly::Data;

namespace {

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The 16384 by 2048 gray PNG of 37 KB.
QByteArray grayBanner()
{
    QImage image(16384, 2048, QImage::Format_Grayscale8);
    image.fill(90);
    return png(image);
}

// An icon file whose one entry is a 4096 by 4096 PNG; its directory says 256 by 256.
QByteArray largeIco()
{
    QImage image(4096, 4096, QImage::Format_ARGB32);
    image.fill(qRgba(20, 90, 200, 200));
    const QByteArray picture = png(image);
    QByteArray ico(22, 0);
    qToLittleEndian<quint16>(1, ico.data() + 2);
    qToLittleEndian<quint16>(1, ico.data() + 4);
    qToLittleEndian<quint16>(1, ico.data() + 10);
    qToLittleEndian<quint16>(32, ico.data() + 12);
    qToLittleEndian<quint32>(quint32(picture.size()), ico.data() + 14);
    qToLittleEndian<quint32>(22, ico.data() + 18);
    return ico + picture;
}

// The resident memory so far, and the peak reset to it: making the input is not counted, nor
// is the memory it freed, given back first.
double resetPeak()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        clear.write("5");
    clear.close();
    return peakMemoryMiB();
}

void decodeAsIcon(benchmark::State& state, QByteArray (*make)())
{
    const QByteArray bytes = make();
    const double before = resetPeak();
    std::optional<QImage> decoded;
    for (auto _ : state)
        decoded = UrlLoadingDecoders::icon(bytes);
    state.counters["file_KiB"] = double(bytes.size()) / 1024;
    state.counters["decoded_width"] = decoded ? decoded->width() : 0;
    state.counters["peak_MiB"] = peakMemoryMiB();
    state.counters["above_before_MiB"] = peakMemoryMiB() - before;
}

void IconGrayPng16384x2048(benchmark::State& state) { decodeAsIcon(state, grayBanner); }
BENCHMARK(IconGrayPng16384x2048)->Iterations(1)->Unit(benchmark::kMillisecond);

void IconIco4096x4096(benchmark::State& state) { decodeAsIcon(state, largeIco); }
BENCHMARK(IconIco4096x4096)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// main() of the benchmarks that talk to a loopback server: an event loop, and no address
// but loopback ever reached.

#include <QCoreApplication>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// main() of the benchmarks that talk to a loopback server: an event loop, no address but
// loopback ever reached, and the malloc arenas limited as the programs limit them.

#include "platform/foundation/process/MallocArenas.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace Tickerly::Foundation;

int main(int argc, char** argv)
{
    limitMallocArenas();
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Store operations: the settings suite and the source list, on a temporary data home.

#include "data/model/SourcesData.h"
#include "platform/foundation/UserDefaults.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::Literals::StringLiterals;

namespace {

void SuiteReadSmallValue(benchmark::State& state)
{
    UserDefaults defaults(u"bench.suite"_s);
    defaults.set(u"k"_s, u"value"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(defaults.string(u"k"_s));
}
BENCHMARK(SuiteReadSmallValue);

void SuiteAtomicIncrement(benchmark::State& state)
{
    UserDefaults defaults(u"bench.suite"_s);
    for (auto _ : state) {
        defaults.update(u"n"_s, [](const std::optional<QVariant>& v) {
            return std::optional<QVariant>(QVariant(v.value_or(QVariant(0)).toLongLong() + 1));
        });
    }
}
BENCHMARK(SuiteAtomicIncrement);

std::shared_ptr<UserDefaults> suiteWithSources(int count)
{
    auto store = std::make_shared<UserDefaults>(u"bench.sources"_s);
    QList<std::shared_ptr<Source>> list;
    for (int i = 0; i < count; ++i)
        list.append(std::make_shared<Source>(u"Source "_s + QString::number(i), u"https://example.org/feed/"_s + QString::number(i)));
    store->set(u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(list));
    return store;
}

void SourcesRead(benchmark::State& state)
{
    SourcesData data(suiteWithSources(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(data.sources());
}
BENCHMARK(SourcesRead)->Arg(10)->Arg(200);

void SourcesUpdate(benchmark::State& state)
{
    SourcesData data(suiteWithSources(int(state.range(0))));
    auto changed = std::make_shared<Source>(u"Renamed"_s, u"https://example.org/feed/3"_s);
    for (auto _ : state)
        data.updateSource(changed);
}
BENCHMARK(SourcesUpdate)->Arg(10)->Arg(200);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

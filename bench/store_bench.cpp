// Store operations: the settings suite and the source list, on a temporary data home.

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
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

// The list a refresh of 240 sources of 20 stories each stores, and the 20 rows read back.
QList<std::shared_ptr<NewsStory>> refreshedStories()
{
    QList<std::shared_ptr<NewsStory>> stories;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int s = 0; s < 240; ++s) {
        auto source = std::make_shared<Source>(
            u"Site %1"_s.arg(s), u"http://site%1.test/feed.rss"_s.arg(s));
        for (int i = 1; i <= 20; ++i)
            stories.append(std::make_shared<NewsStory>(u"Site %1 story %2"_s.arg(s).arg(i),
                u"What happened at Site %1 today, told in a few plain sentences."_s.arg(s),
                Url::fromString(u"http://site%1.test/articles/%2.html"_s.arg(s).arg(i)),
                now.addSecs(-60LL * (s + i * 45)), source));
    }
    return stories;
}

void StoredStoriesStore(benchmark::State& state)
{
    const auto stories = refreshedStories();
    StoredStoriesData data(std::make_shared<UserDefaults>(u"bench.stories"_s));
    for (auto _ : state)
        data.storeStories(stories);
}
BENCHMARK(StoredStoriesStore)->Unit(benchmark::kMillisecond);

void StoredStoriesCurrent(benchmark::State& state)
{
    StoredStoriesData data(std::make_shared<UserDefaults>(u"bench.stories"_s));
    data.storeStories(refreshedStories());
    for (auto _ : state)
        benchmark::DoNotOptimize(data.currentStories(20));
}
BENCHMARK(StoredStoriesCurrent)->Unit(benchmark::kMillisecond);

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

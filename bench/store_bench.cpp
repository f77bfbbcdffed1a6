// Store operations: the settings suite, the source list and the stored stories of a refresh, on
// a temporary data home.

#include "PeakMemory.h"

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "platform/foundation/process/MallocArenas.h"
#include "platform/foundation/process/MallocThresholds.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

void SuiteReadSmallValue(benchmark::State& state)
{
    UserDefaults defaults(u"bench.suite"_s);
    (void)defaults.set(u"k"_s, u"value"_s);
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
        list.append(std::make_shared<Source>(u"Source "_s + QString::number(i),
            u"https://example.org/feed/"_s + QString::number(i)));
    (void)store->set(
        u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(list));
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
        (void)data.updateSource(changed);
}
BENCHMARK(SourcesUpdate)->Arg(10)->Arg(200);

// Sources added one at a time, as a person adds them: every addition reads the stored list and
// writes it back whole, so the total grows with the square of the count. Each iteration starts
// from an empty suite of its own.
void AddSourcesOneByOne(benchmark::State& state)
{
    const int count = int(state.range(0));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_shared<UserDefaults>(u"bench.adding.%1"_s.arg(++round));
        SourcesData data(store);
        state.ResumeTiming();
        for (int i = 0; i < count; ++i)
            (void)data.addSource(std::make_shared<Source>(u"Site "_s + QString::number(i),
                u"https://site"_s + QString::number(i) + u".example.test/feed.xml"_s));
        state.PauseTiming();
        if (data.sources().size() != count)
            state.SkipWithError("sources are missing");
        state.ResumeTiming();
    }
}
BENCHMARK(AddSourcesOneByOne)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a refresh of `sources` sources stores: 20 stories each, with a body of a hundred characters.
QList<std::shared_ptr<NewsStory>> storiesOfARefresh(int sources = 240)
{
    QList<std::shared_ptr<NewsStory>> stories;
    for (int s = 0; s < sources; ++s) {
        const QString host = u"feed%1.example.test"_s.arg(s);
        auto source = std::make_shared<Source>(host, u"http://"_s + host + u"/feed.xml"_s);
        for (int i = 0; i < 20; ++i) {
            const QString link = u"http://"_s + host + u"/"_s + QString::number(i);
            auto story = std::make_shared<NewsStory>(u"Story "_s + QString::number(i),
                u"Some text of the story, long enough to be cut to a hundred characters when the parser cleans it"_s,
                Url::fromString(link),
                QDateTime::fromSecsSinceEpoch(1'700'000'000 - (s * 20 + i) * 60, Qt::UTC), source);
            story->setImageLink(Url::fromString(link + u".jpg"_s));
            stories.append(std::move(story));
        }
    }
    return stories;
}

void ArchiveStoriesOfARefresh(benchmark::State& state)
{
    const auto stories = storiesOfARefresh();
    for (auto _ : state)
        benchmark::DoNotOptimize(KeyedArchiver::archivedDataWithRootObjects(stories));
}
BENCHMARK(ArchiveStoriesOfARefresh)->Unit(benchmark::kMillisecond);

void StoreStoriesOfARefresh(benchmark::State& state)
{
    const auto stories = storiesOfARefresh();
    StoredStoriesData stored(std::make_shared<UserDefaults>(u"bench.stories"_s));
    for (auto _ : state)
        (void)stored.storeStories(stories);
}
BENCHMARK(StoreStoriesOfARefresh)->Unit(benchmark::kMillisecond);

// Reading back the 20 rows a window shows from what a refresh of 240 or 1,000 sources stored.
void StoredStoriesCurrent(benchmark::State& state)
{
    StoredStoriesData data(std::make_shared<UserDefaults>(u"bench.stories"_s));
    (void)data.storeStories(storiesOfARefresh(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(data.currentStories(20));
}
BENCHMARK(StoredStoriesCurrent)
    ->ArgName("sources")
    ->Arg(240)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

// A story as older versions stored it, its picture inside it.
class LegacyStory : public Coding {
public:
    QString link;
    QByteArray png;
    std::shared_ptr<Source> source;
    QString archivedClassName() const override { return u"TickerlyShared.NewsStory"_s; }
    void encodeWithCoder(KeyedArchiver& coder) const override
    {
        coder.encodeString(u"A story of an older version"_s, u"headline"_s);
        coder.encodeUrl(*Url::fromString(link), u"link"_s);
        coder.encodeData(png, u"imageData"_s);
        coder.encodeObject(*source, u"source"_s);
    }
};

// Reading back 500 stories of the older format, each with a 1024 by 1024 picture of about 4 KB.
// Peak memory is the process's, so run this case on its own
// (--benchmark_filter=StoredStoriesLegacyPictures).
void StoredStoriesLegacyPictures(benchmark::State& state)
{
    QImage picture(1024, 1024, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    picture = QImage();
    auto source = std::make_shared<Source>(u"Old"_s, u"http://old.example.test/feed"_s);
    QList<std::shared_ptr<const Coding>> stories;
    for (int i = 0; i < 500; ++i) {
        auto story = std::make_shared<LegacyStory>();
        story->link = u"http://old.example.test/"_s + QString::number(i);
        story->png = png;
        story->source = source;
        stories.append(std::move(story));
    }
    auto suite = std::make_shared<UserDefaults>(u"bench.legacy"_s);
    (void)suite->set(u"velmora.TickerlyShared.StoredStories"_s,
        KeyedArchiver::archivedDataWithRootArray(stories));
    stories.clear();
    StoredStoriesData data(suite);
    const double before = peakMemoryMiB();
    for (auto _ : state)
        benchmark::DoNotOptimize(data.storedStories());
    state.counters["png_bytes"] = double(png.size());
    state.counters["peak_before_MiB"] = before;
    state.counters["peak_MiB"] = peakMemoryMiB();
}
BENCHMARK(StoredStoriesLegacyPictures)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The C library's heap as the application sets it up.
    limitMallocArenas();
    raiseMallocThresholds();
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// A full refresh (Sync) of 240 sources, each under its own host name, answered by one loopback
// server that waits 200 ms before each feed: download, parse, sort and store. Cold is the
// first refresh into an empty store, warm a refresh over the list it stored.

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/sync/Sync.h"
#include "platform/foundation/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int sourceCount = 240;

QByteArray feed(int n)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (int i = 0; i < 20; ++i) {
        doc += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://feed" + QByteArray::number(n)
            + ".example.test/" + QByteArray::number(i) + "</link><description><![CDATA[<p>Some text of the story, "
              "long enough to be cut to a hundred characters when the parser cleans it for the list.</p>]]></description><pubDate>"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - (n * 20 + i) * 60, Qt::UTC).toString(Qt::RFC2822Date).toUtf8()
            + "</pubDate></item>";
    }
    return doc + "</channel></rss>";
}

bool refresh()
{
    bool done = false;
    bool success = false;
    auto sync = Sync::create();
    sync->updateStories(std::nullopt, [&](bool ok) {
        success = ok;
        done = true;
    });
    QDeadlineTimer deadline(60'000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done && success;
}

void BM_SyncOf240DelayedSources(benchmark::State& state)
{
    const bool warm = state.range(0) == 1;
    testsupport::LoopbackServer server(sourceCount + 16);
    for (int i = 0; i < sourceCount; ++i) {
        const QString host = u"feed%1.example.test"_s.arg(i);
        testsupport::ScriptedReply reply;
        reply.body = feed(i);
        reply.delayMs = 200;
        server.reply(u"/"_s + host + u".xml"_s, reply);
        UrlSessionTesting::mapToLoopback(u"http"_s, host, 80, server.port());
    }
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        SourcesData sources;
        for (int i = 0; i < sourceCount; ++i) {
            const QString host = u"feed%1.example.test"_s.arg(i);
            sources.addSource(std::make_shared<Source>(host, u"http://"_s + host + u"/"_s + host + u".xml"_s));
        }
        if (warm && !refresh()) {
            state.SkipWithError("the first refresh failed");
            break;
        }
        UrlSessionTesting::closeIdleConnections();
        state.ResumeTiming();
        if (!refresh()) {
            state.SkipWithError("the refresh failed");
            break;
        }
        state.PauseTiming();
        if (StoredStoriesData().storedStories().size() != sourceCount * 20)
            state.SkipWithError("stories are missing");
        state.ResumeTiming();
    }
    UrlSessionTesting::removeLoopbackMappings();
}
BENCHMARK(BM_SyncOf240DelayedSources)->ArgName("warm")->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

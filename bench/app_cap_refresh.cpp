// The application's peak memory in a refresh over a stored list at its cap, measured on the
// program as a person starts it: Tickerly_Mac with its windows on an X server (run this under
// xvfb-run and dbus-run-session), 240 feed sites on a loopback world answering after 200 ms. Each
// site serves one of the real feeds of the shared corpus (read in place, TICKERLY_CORPUS_DIR or
// ../shared/corpus beside the source tree; its sample feeds repeated to 240 sites), full
// descriptions and all, its run of items served over until it holds at least 217 items (as 31
// served seven times): some 52,000 stories and 79 MB downloaded a refresh, past the 50,000 the
// store keeps. A first start fills the store to the cap; each measured start opens the stories
// window, whose refresh replaces that list, and its peak resident memory
// (VmHWM) is read once the new list is stored. By hand:
//
//   xvfb-run -a -s "-screen 0 1600x900x24" dbus-run-session --
//       build/release/bin/app_cap_refresh build/release/bin/Tickerly_Mac [runs] [wrapper]
//
// (one line).
//
// `wrapper` (a script that execs the program it is given, such as heaptrack) runs the measured
// starts under it; their peak is then not read.

#include "PeakMemory.h"
#include "TemporaryHomes.h"

#include "app/tests/e2e/Desktop.h"

#include "data/model/Shared.h"
#include "data/model/Source.h"
#include "data/model/StoredStoriesData.h"
#include "platform/foundation/xml/XmlParser.h"
#include "testsupport/LoopbackWorld.h"
#include "testsupport/TestSupport.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QDirIterator>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackWorld;

namespace {

constexpr int siteCount = 240;
// As in a refresh of 240 real feeds at the cap: 31 items each served seven times.
constexpr int itemsPerSite = 31 * 7;
constexpr int delayMs = 200;
const QString sourcesTitle = u"Tickerly"_s;
const QString storiesTitle = u"Stories"_s;

// A real feed whose run of items (from the first item's start to the last one's end, exactly as
// written) is served `times` times over.
struct CorpusFeed {
    QByteArray document;
    qsizetype itemsBegin = 0;
    qsizetype itemsEnd = 0;
    int items = 0;
    int times = 1;
    QByteArray served() const
    {
        return document.left(itemsBegin)
            + document.sliced(itemsBegin, itemsEnd - itemsBegin).repeated(times)
            + document.sliced(itemsEnd);
    }
};

// Whether `document` is a whole feed to libxml2 (some real feeds are not; their repetition would
// serve their cut over and over).
bool wellFormed(const QByteArray& document)
{
    XmlParser parser(document);
    return parser.parse();
}

// The corpus's sample feeds that stay well-formed served over: each one's run of items as many
// times as gives it at least `itemsPerSite` items.
QList<CorpusFeed> corpusFeeds()
{
    QList<CorpusFeed> feeds;
    QStringList paths;
    QDirIterator it(TestSupport::corpusPath(u"sample-feeds"_s), { u"*.xml"_s }, QDir::Files);
    while (it.hasNext())
        paths.append(it.next());
    paths.sort();
    static const QRegularExpression itemPattern(
        u"<(item|entry)[\\s>].*?</\\1>"_s, QRegularExpression::DotMatchesEverythingOption);
    for (const QString& path : paths) {
        CorpusFeed feed;
        feed.document = TestSupport::readFile(path);
        // Offsets are bytes; an item named in a comment is none.
        QString text = QString::fromLatin1(feed.document);
        static const QRegularExpression comment(
            u"<!--.*?-->"_s, QRegularExpression::DotMatchesEverythingOption);
        for (auto match = comment.globalMatch(QString(text)); match.hasNext();) {
            const auto found = match.next();
            text.replace(found.capturedStart(), found.capturedLength(),
                QString(found.capturedLength(), u' '));
        }
        const QString kind = feed.document.contains("<rss") || feed.document.contains("<rdf:RDF")
            ? u"item"_s
            : u"entry"_s;
        feed.itemsBegin = -1;
        for (auto match = itemPattern.globalMatch(text); match.hasNext();) {
            const auto found = match.next();
            if (found.captured(1) != kind)
                continue;
            if (feed.itemsBegin < 0)
                feed.itemsBegin = found.capturedStart();
            feed.itemsEnd = found.capturedEnd();
            ++feed.items;
        }
        if (feed.items == 0)
            continue;
        feed.times = (itemsPerSite + feed.items - 1) / feed.items;
        if (wellFormed(feed.served()))
            feeds.append(feed);
    }
    return feeds;
}

struct Run {
    double peakMiB = -1;
    double afterMiB = -1;
    bool stored = false;
};

// One start of the program: the stories window opened, its refresh waited for, the program quit.
Run start(
    const QString& executable, const QStringList& environment, E2E::Desktop& desktop, bool measured)
{
    Run run;
    const auto before = StoredStoriesData().lastLoaded();
    E2E::Program program(executable, environment);
    const auto sources = desktop.waitForWindow(sourcesTitle, 60000);
    if (!sources) {
        std::fprintf(stderr, "no sources window: %s\n", qPrintable(program.output()));
        return run;
    }
    if (!desktop.openWith(sourcesTitle, u"ctrl+1"_s, storiesTitle)) {
        std::fprintf(stderr, "no stories window\n");
        return run;
    }
    run.stored = E2E::poll(
        [&] {
            const auto loaded = StoredStoriesData().lastLoaded();
            return loaded && loaded != before;
        },
        120000, 200);
    // The first rows and their pictures follow the write.
    E2E::poll([] { return false; }, 3000, 500);
    if (measured) {
        run.peakMiB = processStatusMiB(program.pid(), "VmHWM");
        run.afterMiB = processStatusMiB(program.pid(), "VmRSS");
    }
    desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !program.isRunning(); });
    program.waitForExit(60000);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    useTemporaryHomes(home);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || !E2E::Desktop::available()) {
        std::fprintf(stderr,
            "usage (on an X server with xdotool): %s Tickerly_Mac [runs] [wrapper]\n", argv[0]);
        return 2;
    }
    const QString executable = args[1];
    const int runs = args.size() > 2 ? args[2].toInt() : 3;
    const QString wrapper = args.value(3);

    const QList<CorpusFeed> corpus = corpusFeeds();
    if (corpus.isEmpty()) {
        std::fprintf(stderr, "no feeds at %s\n", qPrintable(TestSupport::corpusPath()));
        return 1;
    }
    LoopbackWorld world(siteCount + 16);
    QList<std::shared_ptr<Source>> sources;
    qint64 bytes = 0;
    qint64 items = 0;
    for (int i = 0; i < siteCount; ++i) {
        const QString host = u"site%1.example.test"_s.arg(i);
        world.addFeedSite(host, u"Site %1"_s.arg(i), LoopbackWorld::FeedFormat::rss, 0,
            QColor::fromHsv(i % 360, 160, 200), delayMs);
        const CorpusFeed& feed = corpus[i % corpus.size()];
        const QByteArray document = feed.served();
        bytes += document.size();
        items += qint64(feed.items) * feed.times;
        world.setFeedDocument(host, document);
        sources.append(std::make_shared<Source>(u"Site %1"_s.arg(i), world.feedURL(host)));
    }
    std::printf("%d sites of %d corpus feeds, %lld items, %.1f MB a refresh\n", siteCount,
        int(corpus.size()), qlonglong(items), double(bytes) / 1e6);
    (void)sharedDefaults()->set(
        u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObjects(sources));
    const QString hostMap = QDir(home.path()).filePath(u"hosts"_s);
    if (!world.writeHostMap(hostMap))
        return 1;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"en_US.UTF-8"_s);
    env.insert(u"TICKERLY_LOOPBACK_ONLY"_s, u"1"_s);
    env.insert(u"TICKERLY_TEST_HOST_MAP"_s, hostMap);
    env.insert(u"TICKERLY_TEST_OPENED_LINKS"_s, QDir(home.path()).filePath(u"opened"_s));
    env.insert(u"TICKERLY_SEARCH_KEY"_s, u"loopback-key"_s);
    const QStringList environment = env.toStringList();

    E2E::Desktop desktop(home.path());
    if (!start(executable, environment, desktop, false).stored) {
        std::fprintf(stderr, "the first refresh stored nothing\n");
        return 1;
    }
    std::printf("stored before the measured starts: %lld stories\n",
        qlonglong(StoredStoriesData().storedStories().size()));
    QStringList wrapped = environment;
    if (!wrapper.isEmpty())
        wrapped.append(u"TICKERLY_WRAPPED_PROGRAM="_s + executable);
    for (int i = 0; i < runs; ++i) {
        const Run run = wrapper.isEmpty() ? start(executable, environment, desktop, true)
                                          : start(wrapper, wrapped, desktop, false);
        std::printf("run %d: stored %s, peak %.1f MiB, resident after %.1f MiB\n", i + 1,
            run.stored ? "yes" : "no", run.peakMiB, run.afterMiB);
        std::fflush(stdout);
    }
    return 0;
}

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/tests/ModelTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

std::shared_ptr<Source> source(const QString& title, const QString& link)
{
    return std::make_shared<Source>(title, link);
}

QStringList titles(const QList<std::shared_ptr<Source>>& list)
{
    QStringList out;
    for (const auto& s : list)
        out.append(s->title());
    return out;
}

// Records every change notification of the process.
struct ChangeRecorder {
    struct Seen {
        const void* object;
        QVariantMap userInfo;
        bool onMainThread;
    };
    QList<Seen> seen;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [this](const Notification& n) {
            seen.append({ n.object, n.userInfo, QThread::currentThread() == QCoreApplication::instance()->thread() });
        });

    // Waits for `count` notifications, and lets any extra one arrive.
    bool waitFor(qsizetype count)
    {
        const bool ok = testsupport::waitFor([&] { return seen.size() >= count; }, 5000);
        testsupport::processEvents();
        return ok;
    }
};

QList<int> positions(const QVariantMap& userInfo, const QString& key)
{
    return userInfo.value(key).value<QList<int>>();
}

} // namespace

TEST(SourcesData, AddsOnceAndAnnouncesThePositionOnALaterTurnOfTheMainLoop)
{
    SourcesData data;
    ChangeRecorder recorder;
    EXPECT_TRUE(data.sources().isEmpty());
    EXPECT_FALSE(data.isSourceAdded(*source(u"a"_s, u"http://a/"_s)));

    for (const QString& name : { u"a"_s, u"b"_s, u"c"_s })
        data.addSource(source(name, u"http://"_s + name + u'/'));
    ASSERT_TRUE(recorder.waitFor(3));
    recorder.seen.clear();

    data.addSource(source(u"d"_s, u"http://d/"_s));
    EXPECT_TRUE(recorder.seen.isEmpty());
    ASSERT_TRUE(recorder.waitFor(1));
    ASSERT_EQ(recorder.seen.size(), 1);
    EXPECT_EQ(recorder.seen[0].object, &data);
    EXPECT_TRUE(recorder.seen[0].onMainThread);
    EXPECT_EQ(recorder.seen[0].userInfo.keys(), QStringList { SourcesData::addedSourcesKey() });
    EXPECT_EQ(positions(recorder.seen[0].userInfo, SourcesData::addedSourcesKey()), QList<int> { 3 });

    // Another object over the same suite sees the list; an equal source changes nothing.
    SourcesData other;
    EXPECT_EQ(titles(other.sources()), (QStringList { u"a"_s, u"b"_s, u"c"_s, u"d"_s }));
    other.addSource(source(u"b"_s, u"http://b/"_s));
    recorder.seen.clear();
    testsupport::processEvents();
    EXPECT_TRUE(recorder.seen.isEmpty());
    EXPECT_EQ(other.sources().size(), 4);
}

TEST(SourcesData, RemovesUpdatesAndResetsAnnouncingTheChangedPositions)
{
    SourcesData data;
    data.addSource(source(u"one"_s, u"http://same/"_s));
    data.addSource(source(u"other"_s, u"http://other/"_s));
    data.addSource(source(u"two"_s, u"http://same/"_s));
    ChangeRecorder recorder;
    testsupport::processEvents();
    recorder.seen.clear();

    auto replacement = source(u"three"_s, u"http://same/"_s);
    data.updateSource(replacement);
    ASSERT_TRUE(recorder.waitFor(1));
    EXPECT_EQ(titles(data.sources()), (QStringList { u"three"_s, u"other"_s, u"three"_s }));
    EXPECT_EQ(positions(recorder.seen[0].userInfo, SourcesData::updatedSourcesKey()), QList<int> { 0 });

    // No stored link matches: nothing changes and nothing is posted.
    data.updateSource(source(u"x"_s, u"http://nowhere/"_s));
    data.removeSource(Source(u"absent"_s, u"http://other/"_s));
    testsupport::processEvents();
    EXPECT_EQ(recorder.seen.size(), 1);

    data.removeSource(Source(u"other"_s, u"http://other/"_s));
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(positions(recorder.seen[1].userInfo, SourcesData::removedSourcesKey()), QList<int> { 1 });
    EXPECT_EQ(titles(data.sources()), (QStringList { u"three"_s, u"three"_s }));

    data.resetSources();
    ASSERT_TRUE(recorder.waitFor(3));
    EXPECT_TRUE(recorder.seen[2].userInfo.isEmpty());
    EXPECT_TRUE(data.sources().isEmpty());
}

TEST(SourcesData, SkipsDamagedEntriesAndReadsUnusableValuesAsEmpty)
{
    auto store = sharedDefaults();
    ArchivedSourceFixture legacy;
    legacy.title = u"legacy"_s;
    legacy.link = u"http://legacy/"_s;
    ArchivedSourceFixture noTitle;
    noTitle.link = u"http://broken/"_s;
    ArchivedSourceFixture unknown = legacy;
    unknown.className = u"Some.FutureClass"_s;
    store->set(u"velmora.Tickerly.sources"_s,
               KeyedArchiver::archivedDataWithRootObjects(QList<std::shared_ptr<ArchivedSourceFixture>> {
                   std::make_shared<ArchivedSourceFixture>(noTitle), std::make_shared<ArchivedSourceFixture>(legacy),
                   std::make_shared<ArchivedSourceFixture>(unknown) }));
    SourcesData data;
    EXPECT_EQ(titles(data.sources()), QStringList { u"legacy"_s });

    // A change rewrites the list without the entries that could not be read.
    data.addSource(source(u"new"_s, u"http://new/"_s));
    EXPECT_EQ(titles(data.sources()), (QStringList { u"legacy"_s, u"new"_s }));

    store->set(u"velmora.Tickerly.sources"_s, QByteArray("definitely not an archive"));
    EXPECT_TRUE(data.sources().isEmpty());
    store->set(u"velmora.Tickerly.sources"_s, KeyedArchiver::archivedDataWithRootObject(Source(u"single"_s, u"x"_s)));
    EXPECT_TRUE(data.sources().isEmpty());
    store->set(u"velmora.Tickerly.sources"_s, u"text"_s);
    EXPECT_TRUE(data.sources().isEmpty());
    data.addSource(source(u"again"_s, u"http://again/"_s));
    EXPECT_EQ(titles(data.sources()), QStringList { u"again"_s });
}

TEST(SourcesData, ChangesFromManyThreadsAtOnceAreAllKept)
{
    constexpr int perThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            SourcesData data;
            for (int i = 0; i < perThread; ++i) {
                const QString name = QString::number(t) + u'-' + QString::number(i);
                data.addSource(std::make_shared<Source>(name, u"http://"_s + name + u'/'));
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(SourcesData().sources().size(), 4 * perThread);
    testsupport::processEvents();
}

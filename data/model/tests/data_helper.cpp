// The other program in the two-process tests of the data library: works on the shared suite of
// the data home it inherits.
//
//   data_helper userid                      (prints "ready", waits for a line, prints the id)
//   data_helper add-top-feeds <prefix> <n>  (adds n popular feeds, one change each; fails when
//                                            one is still kept unwritten at the end)
//   data_helper add-sources <prefix> <n>    (adds n sources, one change each; fails when one is
//                                            still kept unwritten at the end)
//   data_helper change-then-quit            (in its event loop: adds "new", removes "gone", adds
//                                            and removes "twice", marks http://story/ read; prints
//                                            "changed <kept changes>", then "answering" once its
//                                            timer has fired 20 more times; on a line, prints
//                                            "quitting" and quits as the programs do)
//   data_helper titles                      (prints the stored sources' titles, comma-separated)
//   data_helper titles-replayed             (as titles, once what runs that ended left is written)
//   data_helper change-then-wait            (while the store is held: adds "new" twice, removes
//                                            "gone", marks http://story/ read; prints "changed
//                                            <kept changes>" and waits to be killed)
//   data_helper remove-then-give-up <link>  (as a disk with no room for the journal: removes the
//                                            source of <link> while the store is held; prints
//                                            "kept, shown: <titles>", gives the removal up as a
//                                            program does at its end, and on hearing it was
//                                            refused prints "refused, shown: <titles>")
//   data_helper remove-then-quit <link>     (removes the source of <link> while the store is held;
//                                            prints "kept, shown: <titles>", ends as a program
//                                            does while the store stays held, prints "left")
//   data_helper replay                      (writes what a run that ended left, as a program that
//                                            opens the store does; prints the stored titles once
//                                            what it posted on the bus has gone round)
//   data_helper userid-then-quit            (asks for the user id while the store is held, prints
//                                            it, ends as a program does with the store still held)

#include "data/model/NewsStory.h"
#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/StoryStateData.h"
#include "data/model/TopFeedsData.h"
#include "data/model/UserInfo.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/store/UserDefaultsTesting.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <thread>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

int userId()
{
    std::printf("ready\n");
    std::fflush(stdout);
    // Every helper of a test starts asking at the same moment: when the test says so.
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 1;
    // Asked off the main thread, which waits for the others' writes: the main thread keeps its
    // write for later instead, giving its own identifier meanwhile.
    QString id;
    std::thread([&id] { id = UserInfo::userId(); }).join();
    std::printf("%s\n", id.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

int addTopFeeds(const QStringList& args)
{
    TopFeedsData data;
    const int count = args.value(1).toInt();
    for (int i = 0; i < count; ++i) {
        const QString name = args.value(0) + QString::number(i);
        auto feed = std::make_shared<TopFeedSource>(
            i, std::make_shared<Source>(name, u"http://"_s + name + u'/'));
        (void)data.modifyTopFeeds([feed](TopFeedsData::TopFeedList& list) { list.append(feed); });
    }
    return sharedDefaults()->retryKeptChanges(std::chrono::seconds(60)) ? 0 : 2;
}

int addSources(const QStringList& args)
{
    SourcesData data;
    const int count = args.value(1).toInt();
    for (int i = 0; i < count; ++i) {
        const QString name = args.value(0) + QString::number(i);
        (void)data.addSource(std::make_shared<Source>(name, u"http://"_s + name + u'/'));
    }
    return sharedDefaults()->retryKeptChanges(std::chrono::seconds(60)) ? 0 : 2;
}

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// What the application does when a person clicks while another program holds the store, then
// quits: the main thread keeps answering, and the kept changes are written on the way out.
int changeThenQuit()
{
    SourcesData data;
    StoryStateData states;
    int ticks = 0;
    std::optional<int> answeringAt;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        if (++ticks == answeringAt)
            say(u"answering"_s);
    });
    timer.start();
    QTimer::singleShot(0, &timer, [&] {
        const auto source = [](const QString& name) {
            return std::make_shared<Source>(name, u"http://"_s + name + u'/');
        };
        (void)data.addSource(source(u"new"_s));
        (void)data.removeSource(*source(u"gone"_s));
        (void)data.addSource(source(u"twice"_s));
        (void)data.removeSource(*source(u"twice"_s));
        (void)states.setState(NewsStory(u"story"_s, u"body"_s, Url::fromString(u"http://story/"_s),
                                  std::nullopt, nullptr),
            StoryState::Read);
        say(u"changed "_s + QString::number(data.localStore()->keptChanges()));
        answeringAt = ticks + 20;
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        input.setEnabled(false);
        say(u"quitting"_s);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    return endProgram(0, std::chrono::seconds(2), std::chrono::seconds(60));
}

// A person's changes while another program holds the store, and then the program is killed.
int changeThenWait()
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    SourcesData data;
    StoryStateData states;
    const auto source = [](const QString& name) {
        return std::make_shared<Source>(name, u"http://"_s + name + u'/');
    };
    (void)data.addSource(source(u"new"_s));
    (void)data.addSource(source(u"new"_s));
    (void)data.removeSource(*source(u"gone"_s));
    (void)states.setState(NewsStory(u"story"_s, u"body"_s, Url::fromString(u"http://story/"_s),
                              std::nullopt, nullptr),
        StoryState::Read);
    say(u"changed "_s + QString::number(data.localStore()->keptChanges()));
    char line[16];
    return std::fgets(line, sizeof line, stdin) ? 0 : 1;
}

// Prints the titles of the stored sources, one line, comma-separated.
int printTitles(bool replayed)
{
    // The opening replays on a worker: the first read may come before it lands.
    if (replayed && !SourcesData().localStore()->retryKeptChanges(std::chrono::seconds(30)))
        return 2;
    QStringList titles;
    for (const auto& s : SourcesData().sources())
        titles << s->title();
    say(titles.join(u','));
    return 0;
}

// The titles the list shows, "(none)" for none.
QString shownTitles(const SourcesData& data)
{
    QStringList titles;
    for (const auto& s : data.sources())
        titles << s->title();
    return titles.isEmpty() ? u"(none)"_s : titles.join(u',');
}

// Removes the source of `link` while another program holds the store; true once the removal is
// kept, said with what the list shows then.
bool keepRemoval(SourcesData& data, const QString& link)
{
    const auto stored = data.sourceWithLink(link);
    if (!stored || !UserDefaults::isKept(data.removeSource(*stored)))
        return false;
    say(u"kept, shown: "_s + shownTitles(data));
    return true;
}

// Removes the source of link args 0 while another program holds the store and the journal cannot
// be written, so that the removal is kept in memory only, then ends as a program does with the
// store still held: the removal is given up. Says what the list shows while it is kept and after
// it is given up.
int removeThenGiveUp(const QStringList& args)
{
    UserDefaultsTesting::failJournalWrites(true);
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    SourcesData data;
    if (!keepRemoval(data, args.value(0)))
        return 1;
    bool refused = false;
    const ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [&](const Notification& n) {
            refused = refused || n.userInfo.value(SourcesData::refusedChangeKey()).toBool();
        });
    UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds(0));
    QDeadlineTimer bound(30000);
    while (!refused && !bound.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (refused)
        say(u"refused, shown: "_s + shownTitles(data));
    return refused ? 0 : 1;
}

// Removes the source of link args 0 while another program holds the store, so that the removal
// is kept, then ends as a program does with the store still held: the removal is left for the
// next opening.
int removeThenQuit(const QStringList& args)
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    SourcesData data;
    if (!keepRemoval(data, args.value(0)))
        return 1;
    if (UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds(0)))
        return 1;
    say(u"left"_s);
    return 0;
}

int replay()
{
    SourcesData data;
    if (!data.localStore()->retryKeptChanges(std::chrono::seconds(30)))
        return 1;
    // Posts from one sender arrive in order: once this one is back, the bus has passed on the
    // notices before it.
    auto& center = DistributedNotificationCenter::defaultCenter();
    bool back = !center.isAvailable();
    const ObserverToken token = center.addObserver(
        u"DataHelperDrained"_s, QString(), [&](const QString&, const QString&) { back = true; });
    center.postNotificationName(u"DataHelperDrained"_s);
    QDeadlineTimer bound(30000);
    while (!back && !bound.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return back ? printTitles(false) : 1;
}

int userIdThenQuit()
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    say(UserInfo::userId());
    return UserDefaults::writeKeptChangesBeforeExit(std::chrono::milliseconds(0)) ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == u"userid"_s)
        return userId();
    if (command == u"add-sources"_s)
        return addSources(args);
    if (command == u"add-top-feeds"_s)
        return addTopFeeds(args);
    if (command == u"change-then-quit"_s)
        return changeThenQuit();
    if (command == u"titles"_s || command == u"titles-replayed"_s)
        return printTitles(command == u"titles-replayed"_s);
    if (command == u"remove-then-give-up"_s)
        return removeThenGiveUp(args);
    if (command == u"remove-then-quit"_s)
        return removeThenQuit(args);
    if (command == u"change-then-wait"_s)
        return changeThenWait();
    if (command == u"replay"_s)
        return replay();
    if (command == u"userid-then-quit"_s)
        return userIdThenQuit();
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

// The other program in the two-process tests of the story list: works on the shared suite of
// the data home it inherits.
//
//   storylist_helper write-setting
//       keeps a data source of its own, writes one setting through Preferences, waits until the
//       process has heard its own announcement and its refresh has ended, and prints how many
//       refreshes its data source started (exits 0 when that is exactly one).
//   storylist_helper keep-setting-then-wait
//       turns "hide on open" on while another program holds the store, prints "kept" once the
//       write is kept, and waits to be killed.
//   storylist_helper keep-other-key-then-wait
//       as keep-setting-then-wait, having first kept a setting's write of a key that is none of
//       the six settings, as a damaged journal could name one.

#include "data/model/Shared.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "storylist/Preferences.h"
#include "storylist/TodayDataSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace Tickerly::Foundation;
using namespace Tickerly::StoryList;

using namespace Qt::Literals::StringLiterals;

namespace {

class CountingDelegate : public QObject, public TodayDataSourceDelegate {
public:
    void willReload(TodayDataSource*) override { ++refreshes; }
    void didReload(TodayDataSource*) override
    {
        ++reloads;
        if (onDidReload)
            onDidReload();
    }
    int extraRows() const override { return 0; }
    int refreshes = 0;
    int reloads = 0;
    std::function<void()> onDidReload;
};

int writeSetting()
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        return 3;
    TodayDataSource dataSource;
    CountingDelegate delegate;
    dataSource.setDelegate(&delegate);

    QEventLoop loop;
    bool markerBack = false;
    auto quitWhenDone = [&] {
        if (markerBack && delegate.reloads > 0)
            loop.quit();
    };
    delegate.onDidReload = quitWhenDone;
    auto marker = center.addObserver(
        u"StorylistHelperDone"_s, QString(), [&](const QString&, const QString&) {
            markerBack = true;
            quitWhenDone();
        });
    (void)Preferences().setWidgetButtons(false);
    // Posts from one sender arrive in order: once the marker is back, so is every announcement.
    center.postNotificationName(u"StorylistHelperDone"_s);
    QTimer::singleShot(20000, &loop, [&] { loop.exit(2); });
    if (loop.exec() != 0)
        return 2;
    std::printf("%d\n", delegate.refreshes);
    std::fflush(stdout);
    return delegate.refreshes == 1 ? 0 : 1;
}

// Turns "hide on open" on while another program holds the store, says "kept", and waits to be
// killed.
int keepSettingThenWait()
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    if (Preferences().setHideOnOpen(true) != UserDefaults::Outcome::Kept)
        return 1;
    std::printf("kept\n");
    std::fflush(stdout);
    char line[16];
    return std::fgets(line, sizeof line, stdin) ? 0 : 1;
}

// Keeps a setting's write of a key that is not a setting, then turns "hide on open" on, while
// another program holds the store; says "kept" and waits to be killed.
int keepOtherKeyThenWait()
{
    UserDefaults::setWriteWaitLimit(std::chrono::milliseconds(100));
    const auto other
        = Tickerly::Data::sharedDefaults()->updateOrKeep(u"velmora.Tickerly.NotASetting"_s,
            [](const std::optional<QVariant>&) { return std::optional(QVariant(true)); }, {},
            { u"preferences.write"_s, [] { return QVariant(true); } });
    if (other != UserDefaults::Outcome::Kept)
        return 1;
    return keepSettingThenWait();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"write-setting"_s)
        return writeSetting();
    if (args.value(0) == u"keep-setting-then-wait"_s)
        return keepSettingThenWait();
    if (args.value(0) == u"keep-other-key-then-wait"_s)
        return keepOtherKeyThenWait();
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

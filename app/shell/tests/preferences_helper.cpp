// The other process in the preferences window's tests: plays the widget on the shared suite of
// the data home it inherits.
//
//   app_preferences_helper watch
//       keeps a story list data source, prints "ready" once it listens, then, each time the
//       data source starts a refresh, one line with the six settings as this process reads them:
//       "<reader> <hide> <number> <expanded> <images> <buttons>". Exits 0 when it hears
//       "PreferencesHelperStop", 2 when that never comes, 3 without a session bus.

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "storylist/Preferences.h"
#include "storylist/TodayDataSource.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

using namespace Tickerly::Foundation;
using namespace Tickerly::StoryList;

using namespace Qt::Literals::StringLiterals;

namespace {

class PrintingDelegate : public QObject, public TodayDataSourceDelegate {
public:
    void willReload(TodayDataSource*) override
    {
        const Preferences settings;
        std::printf("%d %d %lld %d %d %d\n", settings.readabilityOnOpen(), settings.hideOnOpen(),
            static_cast<long long>(settings.numberOfStories()), settings.widgetExpanded(),
            settings.widgetImages(), settings.widgetButtons());
        std::fflush(stdout);
    }
    void didReload(TodayDataSource*) override { }
    int extraRows() const override { return 0; }
};

int watch()
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        return 3;
    TodayDataSource dataSource;
    PrintingDelegate delegate;
    dataSource.setDelegate(&delegate);

    QEventLoop loop;
    auto stop = center.addObserver(u"PreferencesHelperStop"_s, QString(),
        [&](const QString&, const QString&) { loop.quit(); });
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer::singleShot(30000, &loop, [&] { loop.exit(2); });
    return loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == u"watch"_s)
        return watch();
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

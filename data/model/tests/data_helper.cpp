// The other program in the two-process tests of the data library: works on the shared suite of
// the data home it inherits.
//
//   data_helper userid                      (prints "ready", waits for a line, prints the id)
//   data_helper add-top-feeds <prefix> <n>  (adds n popular feeds, one change each)
//   data_helper add-sources <prefix> <n>    (adds n sources, one change each; fails when one is
//                                            still kept unwritten at the end)

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "data/model/TopFeedsData.h"
#include "data/model/UserInfo.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

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
    std::printf("%s\n", UserInfo::userId().toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

int addTopFeeds(const QStringList& args)
{
    TopFeedsData data;
    const int count = args.value(1).toInt();
    for (int i = 0; i < count; ++i) {
        const QString name = args.value(0) + QString::number(i);
        auto feed = std::make_shared<TopFeedSource>(i, std::make_shared<Source>(name, u"http://"_s + name + u'/'));
        data.modifyTopFeeds([&](TopFeedsData::TopFeedList& list) { list.append(feed); });
    }
    return 0;
}

int addSources(const QStringList& args)
{
    SourcesData data;
    const int count = args.value(1).toInt();
    for (int i = 0; i < count; ++i) {
        const QString name = args.value(0) + QString::number(i);
        data.addSource(std::make_shared<Source>(name, u"http://"_s + name + u'/'));
    }
    return sharedDefaults()->retryKeptChanges(std::chrono::seconds(60)) ? 0 : 2;
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
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

// The other process of the widget's two-process tests: works on the shared suite of the data
// home it inherits.
//
//   widget_helper number-of-stories <n>
//       stores the preferred number of stories through Preferences (which announces it to
//       every process) and ends once its own announcement has gone out.

#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "storylist/Preferences.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

using namespace Tickerly::Foundation;
using namespace Tickerly::StoryList;

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = false;
    const qint64 count = args.value(1).toLongLong(&ok);
    if (args.value(0) != u"number-of-stories"_s || !ok) {
        std::fprintf(stderr, "usage: widget_helper number-of-stories <n>\n");
        return 64;
    }
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        return 3;
    QEventLoop loop;
    auto marker = center.addObserver(
        u"WidgetHelperDone"_s, QString(), [&](const QString&, const QString&) { loop.quit(); });
    (void)Preferences().setNumberOfStories(count);
    // Posts from one sender arrive in order: once the marker is back, the setting's is out too.
    center.postNotificationName(u"WidgetHelperDone"_s);
    QTimer::singleShot(20000, &loop, [&] { loop.exit(2); });
    return loop.exec();
}

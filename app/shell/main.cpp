#include "app/shell/AppDelegate.h"
#include "app/shell/Application.h"
#include "app/shell/RunningInstance.h"
#include "app/shell/Storyboards.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/process/MallocArenas.h"
#include "platform/foundation/process/MallocThresholds.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/process/SingleInstance.h"
#include "platform/foundation/process/TerminationSignals.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::App;

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    limitMallocArenas();
    raiseMallocThresholds();
    QApplication qtApplication(argc, argv);
    QApplication::setApplicationName(u"Tickerly"_s);
    QApplication::setDesktopFileName(u"tickerly"_s);
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(imageNamed(u"AppIcon"_s))));
    if (!SingleInstance::claim(RunningInstance::serviceName()))
        return 0;

    registerApplicationStoryboards();
    Application application;
    RunningInstance runningInstance;
    SingleInstance::serve(&runningInstance);
    AppDelegate delegate;
    application.setDelegate(&delegate);
    onTerminationSignals([] { QApplication::quit(); });
    application.run();
    return endProgram(0);
}

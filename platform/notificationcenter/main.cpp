// The widget host: shows the Tickerly widget in a panel at the screen's right edge.
//   Tickerly_Widget_Host [--widget <plug-in file>]
// A second start while one runs brings the running one's panel back and ends. Ctrl+Q in the
// panel, or the session's termination signal, ends it.

#include "platform/foundation/process/MallocArenas.h"
#include "platform/foundation/process/MallocThresholds.h"
#include "platform/foundation/process/ProcessEnd.h"
#include "platform/foundation/process/SingleInstance.h"
#include "platform/foundation/process/TerminationSignals.h"
#include "platform/notificationcenter/WidgetPanel.h"
#include "platform/notificationcenter/WidgetPluginLoader.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

using namespace Tickerly::Foundation;
using namespace Tickerly::WidgetHost;

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    limitMallocArenas();
    // It writes the same story lists as the application.
    raiseMallocThresholds();
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tickerly Widget"_s);
    QApplication::setDesktopFileName(u"tickerly-widget"_s);

    QCommandLineParser options;
    options.setApplicationDescription(u"Shows the Tickerly widget beside the desktop."_s);
    options.addHelpOption();
    const QCommandLineOption pluginOption(u"widget"_s, u"The widget plug-in to show."_s, u"file"_s);
    options.addOption(pluginOption);
    options.process(app);

    const QString path = options.isSet(pluginOption)
        ? options.value(pluginOption)
        : defaultWidgetPluginPath(QApplication::applicationDirPath());
    LoadedWidget widget = LoadedWidget::load(path);
    if (!widget.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(widget.error));
        return 1;
    }
    if (!SingleInstance::claim(u"velmora.Tickerly.WidgetHost"_s))
        return 0;

    const QString title = widget.displayName.isEmpty() ? widget.principalClass : widget.displayName;
    WidgetPanel panel(std::move(widget.controller), title);
    SingleInstance::serve(&panel);
    QObject::connect(&panel, &WidgetPanel::quitRequested, &app, &QApplication::quit);
    onTerminationSignals([] { QApplication::quit(); });
    panel.Show();
    return endProgram(app.exec());
}

#pragma once

#include "platform/notificationcenter/Namespace.h"
#include "platform/notificationcenter/WidgetProviding.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace Tickerly::WidgetHost {

// A widget plug-in loaded and its principal view controller made, or the reason why not
// (`error`, a sentence for the user that names the file). Main thread.
struct LoadedWidget {
    std::unique_ptr<WidgetInterface::WidgetViewController> controller;
    QString principalClass;
    QString displayName;
    QString error;

    bool ok() const { return controller != nullptr; }

    // Loads the plug-in at `path`: a missing file, a file that is no Qt plug-in, a plug-in of
    // another interface or version, metadata without a principal class, and a plug-in that
    // cannot make that class are errors, never crashes. The library stays loaded for the life
    // of the process.
    static LoadedWidget load(const QString& path);
};

// Where the host looks for the widget plug-in when it is given none: beside an installed
// host, then in the build tree. The first that exists, else the first (for the message).
QStringList widgetPluginCandidates(const QString& hostDirectory);
QString defaultWidgetPluginPath(const QString& hostDirectory);

} // namespace Tickerly::WidgetHost

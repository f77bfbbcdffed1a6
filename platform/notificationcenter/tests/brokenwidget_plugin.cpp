// Broken widget plug-ins for the host's tests, one per build of this file: the interface id
// (BROKEN_IID) and the metadata file (BROKEN_METADATA) say how it is broken. None of them can
// make any view controller.

#include "platform/notificationcenter/WidgetProviding.h"

#include <QObject>

using namespace Tickerly::WidgetInterface;

class BrokenWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID BROKEN_IID FILE BROKEN_METADATA)
    Q_INTERFACES(Tickerly::WidgetInterface::WidgetPlugin)
public:
    std::unique_ptr<WidgetViewController> makeViewController(const QString&) override
    {
        return nullptr;
    }
};

#include "brokenwidget_plugin.moc"

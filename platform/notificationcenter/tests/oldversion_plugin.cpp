// A broken widget plug-in for the host's tests: one built for an older widget interface.

#include "platform/notificationcenter/WidgetProviding.h"

#include <QObject>

class BrokenWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "velmora.Tickerly.WidgetPlugin/0" FILE "oldversion.json")
    Q_INTERFACES(WidgetPlugin)
public:
    std::unique_ptr<WidgetViewController> makeViewController(const QString&) override
    {
        return nullptr;
    }
};

#include "oldversion_plugin.moc"

// A broken widget plug-in for the host's tests: one whose metadata names no principal class.

#include "platform/notificationcenter/WidgetProviding.h"

#include <QObject>

class BrokenWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TICKERLY_WIDGET_INTERFACE_IID FILE "noprincipal.json")
    Q_INTERFACES(WidgetPlugin)
public:
    std::unique_ptr<WidgetViewController> makeViewController(const QString&) override
    {
        return nullptr;
    }
};

#include "noprincipal_plugin.moc"

// A broken widget plug-in for the host's tests: one that cannot make the principal class its metadata names.

#include "platform/notificationcenter/WidgetProviding.h"

#include <QObject>

class BrokenWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TICKERLY_WIDGET_INTERFACE_IID FILE "unknownclass.json")
    Q_INTERFACES(WidgetPlugin)
public:
    std::unique_ptr<WidgetViewController> makeViewController(const QString&) override
    {
        return nullptr;
    }
};

#include "unknownclass_plugin.moc"

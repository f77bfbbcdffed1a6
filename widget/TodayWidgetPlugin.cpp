// The widget plug-in's root object: the widget host reads its metadata (principal class and
// title), and it makes the principal view controller with the interface file that loads its view.

#include "widget/Namespace.h"
#include "platform/notificationcenter/WidgetProviding.h"
#include "storylist/TodayViewController.h"
#include "storylist/TodayViewControllerInterface.h"

#include <QObject>

#include <exception>
#include <memory>

namespace Tickerly::Widget {

using namespace Tickerly::WidgetInterface;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

class PrincipalViewController final : public WidgetViewController {
public:
    QWidget* view() override { return m_controller->view(); }
    NCWidgetProviding& provider() override { return *m_controller; }

private:
    std::unique_ptr<TodayViewController> m_controller = std::make_unique<TodayViewController>();
};

} // namespace

class TodayWidgetPlugin : public QObject, public WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TICKERLY_WIDGET_INTERFACE_IID FILE "Tickerly_Widget_Mac.json")
    Q_INTERFACES(Tickerly::WidgetInterface::WidgetPlugin)
public:
    TodayWidgetPlugin() { registerTodayViewControllerInterface(); }

    std::unique_ptr<WidgetViewController> makeViewController(const QString& className) override
    {
        if (className != u"TodayViewController"_s)
            return nullptr;
        // Nothing may cross into the host.
        try {
            return std::make_unique<PrincipalViewController>();
        } catch (const std::exception& error) {
            qWarning("The widget could not make its view controller: %s", error.what());
        } catch (...) {
            qWarning("The widget could not make its view controller.");
        }
        return nullptr;
    }
};

} // namespace Tickerly::Widget

#include "TodayWidgetPlugin.moc"

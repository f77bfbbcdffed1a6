#pragma once

#include "platform/notificationcenter/Namespace.h"
#include "platform/notificationcenter/NCUpdateResult.h"

#include <QString>
#include <QtPlugin>

#include <functional>
#include <memory>

class QWidget;

namespace Tickerly::WidgetInterface {

// The widget interface: what the widget host asks of a widget, and how a widget plug-in hands
// the host its principal view controller. Shared by the host, the widget plug-in and the
// application (which compiles the widget's controller without the host).

// Margins around a widget's view inside the host's panel, in points.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

// What a widget's principal view controller answers to its host. Main thread only.
class NCWidgetProviding {
public:
    using CompletionHandler = std::function<void(NCUpdateResult)>;

    virtual ~NCWidgetProviding() = default;

    // Refresh now; call the handler once when done. The host calls it each time the panel
    // comes into view.
    virtual void widgetPerformUpdateWithCompletionHandler(CompletionHandler completionHandler) = 0;
    // The margins the widget wants around its view, given those the host proposes.
    virtual EdgeInsets widgetMarginInsetsForProposedMarginInsets(EdgeInsets defaultMarginInsets)
        = 0;
};

// A principal view controller as the host holds it. Owned by the host; main thread only.
// The host places the view in its panel, and deletes it there before it drops the controller
// (a window closing): the controller holds its view weakly.
class WidgetViewController {
public:
    virtual ~WidgetViewController() = default;

    // The controller's view, loaded (and its controller told so) on the first call. The view
    // sizes itself by its own height; the host follows it.
    virtual QWidget* view() = 0;
    virtual NCWidgetProviding& provider() = 0;
};

// The root object of a widget plug-in. Its metadata (Q_PLUGIN_METADATA ... FILE) names the
// principal class under "PrincipalClass" and the panel's title under "DisplayName".
class WidgetPlugin {
public:
    virtual ~WidgetPlugin() = default;

    // A new view controller of the class of that name; nothing when the plug-in has none.
    // Never throws.
    virtual std::unique_ptr<WidgetViewController> makeViewController(const QString& className) = 0;
};

// The version is the number after the slash: a host loads only plug-ins built for its own.
inline constexpr int widgetInterfaceVersion = 1;
// One literal, as moc reads it (a plug-in names it in Q_PLUGIN_METADATA).
#define TICKERLY_WIDGET_INTERFACE_IID "velmora.Tickerly.WidgetPlugin/1"
inline constexpr char widgetInterfacePrefix[] = "velmora.Tickerly.WidgetPlugin/";

} // namespace Tickerly::WidgetInterface

Q_DECLARE_INTERFACE(Tickerly::WidgetInterface::WidgetPlugin, TICKERLY_WIDGET_INTERFACE_IID)

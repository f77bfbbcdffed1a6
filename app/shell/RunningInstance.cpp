#include "app/shell/RunningInstance.h"

#include "app/shell/Application.h"
#include "platform/appkit/Controllers.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

QString RunningInstance::serviceName() { return u"velmora.Tickerly"_s; }

void RunningInstance::Show()
{
    Application* application = Application::shared();
    if (!application)
        return;
    if (const std::shared_ptr<WindowController>& sources = application->sourcesWindowController())
        sources->showWindow(this);
    else
        application->openSourcesWindow(this);
}

} // namespace Tickerly::App

#include "storylist/TodayViewControllerInterface.h"

#include "storylist/TodayView.h"
#include "storylist/TodayViewController.h"

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;

void registerTodayViewControllerInterface()
{
    const QString name = QString::fromUtf16(TodayViewController::interfaceName);
    if (ViewController::hasInterface(name))
        return;
    // The story list with its progress wheel in the button's strip, clear of the first row's
    // time and buttons.
    ViewController::registerInterface(name, [](ViewController* owner) -> QWidget* {
        auto* controller = qobject_cast<StoriesBaseViewController*>(owner);
        return controller ? StoriesBaseViewController::makeStoryListView(
                   controller, StoriesBaseViewController::SpinnerPlace::besideButton)
                          : nullptr;
    });
}

} // namespace Tickerly::StoryList

#pragma once

#include "platform/appkit/Controllers.h"

// The sources window's controller. It registers itself with the application object when its
// window has loaded, so the launch window is held by the application as well.
class SourcesWindowController : public WindowController {
    Q_OBJECT
public:
    using WindowController::WindowController;

protected:
    void windowDidLoad() override;
};

#include "SourcesWindowController.h"

#include "app/shell/Application.h"

void SourcesWindowController::windowDidLoad()
{
    if (Application* application = Application::shared()) {
        if (auto self = weak_from_this().lock())
            application->setSourcesWindowController(self);
    }
}

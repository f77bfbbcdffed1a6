#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <functional>

class QMenu;
class QMouseEvent;
class QWidget;

namespace Tickerly::AppKit {

// Shows `menu` as the context menu of `view` for the click `event`, at the pointer; returns at
// once. The menu is deleted once it closes. Main thread only.
TICKERLYAPPKIT_EXPORT void popUpContextMenu(QMenu* menu, const QMouseEvent* event, QWidget* view);

// Receives every menu in place of the screen, and owns it (tests); an empty function restores
// the screen.
using ContextMenuPresenter
    = std::function<void(QMenu* menu, const QMouseEvent* event, QWidget* view)>;
TICKERLYAPPKIT_EXPORT void setContextMenuPresenter(ContextMenuPresenter presenter);

} // namespace Tickerly::AppKit

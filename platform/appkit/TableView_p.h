#pragma once

// Internals shared by the table's sources; not part of the library's interface.

#include "platform/appkit/Namespace.h"
#include "platform/appkit/TableView.h"

#include <QLoggingCategory>
#include <QPointer>

class QVariantAnimation;

namespace Tickerly::AppKit {

Q_DECLARE_LOGGING_CATEGORY(lcTableView)

// One slot of the table. `container` clips the cell while the slot grows or shrinks; its
// height is `progress` × (cell height + spacing). A row far from the visible part of the table
// has no container and no cell yet (`deferred`): only its height is known.
struct TableView::Row {
    QWidget* container = nullptr;
    int top = 0; // where the slot lies, as last laid out
    int slot = 0;
    bool deferred = false;
    QPointer<QWidget> cell;
    int height = 0;
    qreal progress = 1.0;
    bool leaving = false;
    bool anchorBottom = false; // the cell follows the slot's bottom edge while animating
    bool needsContent = false; // inserted: view and value asked for when the batch ends
    bool needsReload = false;
    TableViewAnimation pendingAnimation = TableViewAnimation::None;
    QVariantAnimation* animation = nullptr;
};

} // namespace Tickerly::AppKit

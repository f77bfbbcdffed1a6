#include "platform/appkit/ContextMenu.h"

#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

namespace Tickerly::AppKit {

namespace {

ContextMenuPresenter& presenter()
{
    static ContextMenuPresenter p;
    return p;
}

} // namespace

void popUpContextMenu(QMenu* menu, const QMouseEvent* event, QWidget* view)
{
    if (!menu)
        return;
    if (presenter()) {
        presenter()(menu, event, view);
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPoint at = event ? event->globalPosition().toPoint()
                            : (view ? view->mapToGlobal(view->rect().center()) : QPoint());
    menu->popup(at);
}

void setContextMenuPresenter(ContextMenuPresenter p) { presenter() = std::move(p); }

} // namespace Tickerly::AppKit

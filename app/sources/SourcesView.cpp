#include "app/Namespace.h"
#include "SourcesView.h"

#include <QLabel>
#include <QPainter>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

SourcesView::SourcesView(QWidget* parent)
    : QWidget(parent)
    , m_banner(this)
{
}

LayoutViews SourcesView::views() const { return { { u"error"_s, m_banner.label() } }; }

bool SourcesView::errorVisible() const { return m_banner.isShown(); }

void SourcesView::setErrorVisible(bool visible) { m_banner.setShown(visible); }

void SourcesView::showError(const QString& text) { m_banner.show(text); }

void SourcesView::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), Qt::white); }

} // namespace Tickerly::App

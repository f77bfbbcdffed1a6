// Placing the rows and animating them in and out.

#include "platform/appkit/TableView.h"
#include "platform/appkit/TableView_p.h"

#include <QGraphicsOpacityEffect>
#include <QResizeEvent>
#include <QVariantAnimation>

#include <algorithm>
#include <limits>

namespace Tickerly::AppKit {

QRect TableView::rectOfRow(int row) const
{
    const Row* found = liveRow(row);
    if (!found)
        return {};
    const int offset = found->cell ? found->cell->y() : 0;
    return QRect(0, found->top + offset, width(), found->height);
}

bool TableView::isAnimating() const
{
    return std::any_of(
        m_rows.begin(), m_rows.end(), [](const auto& row) { return row->animation != nullptr; });
}

// As wide as the widest row wants to be, as high as the rows.
QSize TableView::sizeHint() const
{
    int width = 0;
    for (const auto& row : m_rows) {
        if (row->cell && !row->leaving)
            width = std::max(width, row->cell->sizeHint().width());
    }
    return QSize(width, m_contentHeight);
}

QSize TableView::minimumSizeHint() const { return QSize(0, m_contentHeight); }

bool TableView::hasDeferredRows() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [](const auto& row) { return row->deferred; });
}

void TableView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width() || hasDeferredRows())
        layoutRows();
}

void TableView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (hasDeferredRows())
        layoutRows();
}

bool TableView::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show) {
        watchAncestors();
        if (hasDeferredRows())
            layoutRows();
    }
    return QWidget::event(event);
}

bool TableView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ParentChange:
        watchAncestors();
        [[fallthrough]];
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
        if (hasDeferredRows())
            layoutRows();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// Every ancestor up to the window: a scroll view's viewport growing or its document moving
// brings rows into sight.
void TableView::watchAncestors()
{
    for (const QPointer<QWidget>& w : std::as_const(m_watched)) {
        if (w)
            w->removeEventFilter(this);
    }
    m_watched.clear();
    for (QWidget* w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        w->installEventFilter(this);
        m_watched.append(w);
    }
}

// The part of the table, in its own coordinates, whose rows are made: what its ancestors let
// show, and as much again above and below, so that scrolling finds its rows ready.
QRect TableView::wantedBand() const
{
    int top = std::numeric_limits<int>::min() / 4;
    int bottom = std::numeric_limits<int>::max() / 4;
    QPoint offset;
    for (const QWidget* w = this; w; w = w->parentWidget()) {
        if (w->isWindow() || !w->parentWidget()) {
            top = std::max(top, -offset.y());
            bottom = std::min(bottom, w->height() - offset.y());
            break;
        }
        offset += w->pos();
        const QWidget* parent = w->parentWidget();
        top = std::max(top, -offset.y());
        bottom = std::min(bottom, parent->height() - offset.y());
    }
    if (bottom <= top)
        return {};
    const int ahead = bottom - top;
    return QRect(QPoint(0, top - ahead), QPoint(0, bottom + ahead));
}

void TableView::animate(Row* row, qreal to, TableViewAnimation animation, bool anchorBottom)
{
    if (row->animation) {
        row->animation->disconnect(this);
        row->animation->stop();
        row->animation->deleteLater();
        row->animation = nullptr;
    }
    row->anchorBottom = anchorBottom;
    // A row never made was never seen: it needs no animation.
    if (m_animationDuration <= 0 || animation == TableViewAnimation::None || row->progress == to
        || !row->container) {
        row->progress = to;
        finishAnimation(row);
        return;
    }
    const bool fade = animation == TableViewAnimation::Fade;
    if (fade && !row->container->graphicsEffect()) {
        auto* effect = new QGraphicsOpacityEffect(row->container);
        effect->setOpacity(row->progress);
        row->container->setGraphicsEffect(effect);
    }
    auto* driver = new QVariantAnimation(this);
    driver->setDuration(m_animationDuration);
    driver->setEasingCurve(QEasingCurve::InOutQuad);
    driver->setStartValue(row->progress);
    driver->setEndValue(to);
    row->animation = driver;
    connect(
        driver, &QVariantAnimation::valueChanged, this, [this, row, fade](const QVariant& value) {
            row->progress = value.toReal();
            if (fade) {
                if (auto* effect
                    = qobject_cast<QGraphicsOpacityEffect*>(row->container->graphicsEffect()))
                    effect->setOpacity(row->progress);
            }
            layoutRows();
        });
    connect(driver, &QAbstractAnimation::finished, this, [this, row] {
        row->animation->deleteLater();
        row->animation = nullptr;
        finishAnimation(row);
    });
    driver->start();
}

void TableView::finishAnimation(Row* row)
{
    row->anchorBottom = false;
    if (row->container)
        row->container->setGraphicsEffect(nullptr);
    if (row->leaving) {
        const auto it = std::find_if(
            m_rows.begin(), m_rows.end(), [row](const auto& r) { return r.get() == row; });
        discard(row);
        if (it != m_rows.end())
            m_rows.erase(it);
    }
    layoutRows();
}

void TableView::place(Row* row)
{
    if (!row->container)
        return;
    const int w = width();
    const int full = row->height + m_intercellSpacing;
    row->container->setGeometry(0, row->top, w, row->slot);
    if (row->cell)
        row->cell->setGeometry(0, row->anchorBottom ? row->slot - full : 0, w, row->height);
}

void TableView::layoutRows()
{
    const bool deferred = !m_applying && hasDeferredRows();
    const QRect band = deferred ? wantedBand() : QRect();
    qreal y = 0;
    int index = 0;
    // By index: making a row's view may not change the rows (changes wait while it answers).
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Row* row = m_rows[i].get();
        const int full = row->height + m_intercellSpacing;
        row->top = qRound(y);
        y += row->progress * full;
        row->slot = qRound(y) - row->top;
        if (row->deferred && !row->leaving && !band.isNull() && row->top <= band.bottom()
            && row->top + row->slot >= band.top()) {
            if (materialize(row, index)) {
                reloadForMaterialized();
                return;
            }
        } else {
            place(row);
        }
        if (!row->leaving)
            ++index;
    }
    const int total = qRound(y);
    if (total != m_contentHeight) {
        m_contentHeight = total;
        updateGeometry();
        Q_EMIT contentHeightChanged(total);
    }
}

} // namespace Tickerly::AppKit

// Placing the rows and animating them in and out.

#include "platform/appkit/TableView.h"
#include "platform/appkit/TableView_p.h"

#include <QGraphicsOpacityEffect>
#include <QResizeEvent>
#include <QVariantAnimation>

#include <algorithm>

QRect TableView::rectOfRow(int row) const
{
    const Row* found = liveRow(row);
    if (!found)
        return {};
    const int offset = found->cell ? found->cell->y() : 0;
    return QRect(0, found->container->y() + offset, width(), found->height);
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

void TableView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        layoutRows();
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
    if (m_animationDuration <= 0 || animation == TableViewAnimation::None || row->progress == to) {
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

void TableView::layoutRows()
{
    const int w = width();
    qreal y = 0;
    for (const auto& row : m_rows) {
        const int full = row->height + m_intercellSpacing;
        const int top = qRound(y);
        y += row->progress * full;
        const int slot = qRound(y) - top;
        row->container->setGeometry(0, top, w, slot);
        if (row->cell)
            row->cell->setGeometry(0, row->anchorBottom ? slot - full : 0, w, row->height);
    }
    const int total = qRound(y);
    if (total != m_contentHeight) {
        m_contentHeight = total;
        updateGeometry();
        Q_EMIT contentHeightChanged(total);
    }
}

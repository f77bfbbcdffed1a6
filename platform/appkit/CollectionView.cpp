#include "platform/appkit/CollectionView.h"

#include <QResizeEvent>

#include <algorithm>

namespace Tickerly::AppKit {

namespace {

constexpr int kMaxExtent = 1 << 20;

// Items leave later, not now: one may be going away from inside a click on its own button.
void retire(CollectionViewItem* item)
{
    if (!item)
        return;
    if (QWidget* view = item->isViewLoaded() ? item->view() : nullptr)
        view->hide();
    item->deleteLater();
}

} // namespace

CollectionViewItem::CollectionViewItem() = default;

CollectionViewItem::~CollectionViewItem() { delete m_view.data(); }

QWidget* CollectionViewItem::view()
{
    if (!m_view) {
        m_view = loadView();
        if (!m_view)
            m_view = new QWidget;
        viewDidLoad();
    }
    return m_view;
}

void CollectionViewItem::setRepresentedObject(const QVariant& object)
{
    m_representedObject = object;
}

QWidget* CollectionViewItem::loadView() { return new QWidget; }

void CollectionViewItem::viewDidLoad() { }

CollectionView::CollectionView(QWidget* parent)
    : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

CollectionView::~CollectionView() = default;

void CollectionView::setItemPrototype(ItemPrototype prototype)
{
    m_prototype = std::move(prototype);
    for (auto& entry : m_entries)
        entry = makeEntry(entry.object);
    layoutItems();
}

QVariantList CollectionView::content() const
{
    QVariantList objects;
    objects.reserve(qsizetype(m_entries.size()));
    for (const auto& entry : m_entries)
        objects.append(entry.object);
    return objects;
}

void CollectionView::setContent(const QVariantList& objects)
{
    std::vector<Entry> previous = std::move(m_entries);
    m_entries.clear();
    m_entries.reserve(size_t(objects.size()));
    for (const QVariant& object : objects) {
        const auto same
            = std::find_if(previous.begin(), previous.end(), [&object](const Entry& entry) {
                  return entry.item && entry.object.isValid() && entry.object == object;
              });
        if (same != previous.end()) {
            m_entries.push_back(std::move(*same));
            previous.erase(same);
        } else {
            m_entries.push_back(makeEntry(object));
        }
    }
    previous.clear();
    layoutItems();
}

CollectionViewItem* CollectionView::itemAtIndex(int index) const
{
    if (index < 0 || index >= numberOfItems())
        return nullptr;
    return m_entries[size_t(index)].item.get();
}

QRect CollectionView::frameForItemAtIndex(int index) const
{
    if (index < 0 || index >= numberOfItems())
        return {};
    const QSize cell = cellSize();
    const int columns = columnsFor(width());
    const QMargins margins = contentsMargins();
    return QRect(margins.left() + (index % columns) * (cell.width() + m_spacing),
        margins.top() + (index / columns) * (cell.height() + m_spacing), cell.width(),
        cell.height());
}

void CollectionView::setItemSize(const QSize& size)
{
    m_itemSize = size.boundedTo(QSize(kMaxExtent, kMaxExtent));
    layoutItems();
}

void CollectionView::setSpacing(int spacing)
{
    m_spacing = std::clamp(spacing, 0, kMaxExtent);
    layoutItems();
}

void CollectionView::setMaxNumberOfColumns(int columns)
{
    m_maxNumberOfColumns = std::max(0, columns);
    layoutItems();
}

int CollectionView::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int count = numberOfItems();
    if (count == 0)
        return margins.top() + margins.bottom();
    const int columns = columnsFor(width);
    const int rows = (count + columns - 1) / columns;
    return margins.top() + margins.bottom() + rows * cellSize().height() + (rows - 1) * m_spacing;
}

QSize CollectionView::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int columns = std::max(1, m_maxNumberOfColumns);
    const int hintWidth = margins.left() + margins.right() + columns * cellSize().width()
        + (columns - 1) * m_spacing;
    return QSize(hintWidth, heightForWidth(width() > 0 ? width() : hintWidth));
}

QSize CollectionView::minimumSizeHint() const { return QSize(0, heightForWidth(width())); }

void CollectionView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutItems();
}

CollectionView::Entry CollectionView::makeEntry(const QVariant& object)
{
    Entry entry { object, { nullptr, &retire } };
    if (!m_prototype)
        return entry;
    std::unique_ptr<CollectionViewItem> item = m_prototype();
    if (!item)
        return entry;
    item->setParent(this);
    item->setRepresentedObject(object);
    QWidget* view = item->view();
    view->setParent(this);
    view->show();
    entry.item.reset(item.release());
    return entry;
}

QSize CollectionView::cellSize() const
{
    if (!m_itemSize.isEmpty())
        return m_itemSize;
    for (const auto& entry : m_entries) {
        if (entry.item)
            return entry.item->view()
                ->sizeHint()
                .expandedTo(QSize(1, 1))
                .boundedTo(QSize(kMaxExtent, kMaxExtent));
    }
    return QSize(1, 1);
}

int CollectionView::columnsFor(int width) const
{
    const QMargins margins = contentsMargins();
    const int available = width - margins.left() - margins.right();
    int columns = std::max(1, (available + m_spacing) / (cellSize().width() + m_spacing));
    if (m_maxNumberOfColumns > 0)
        columns = std::min(columns, m_maxNumberOfColumns);
    return columns;
}

void CollectionView::layoutItems()
{
    for (int index = 0; index < numberOfItems(); ++index) {
        if (CollectionViewItem* item = itemAtIndex(index))
            item->view()->setGeometry(frameForItemAtIndex(index));
    }
    updateGeometry();
}

} // namespace Tickerly::AppKit

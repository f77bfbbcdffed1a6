#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace Tickerly::AppKit {

// One item of a collection view: a represented object and the view that shows it. The view is
// made on first use (`loadView`, then `viewDidLoad`). Main thread; owned by its collection view.
class TICKERLYAPPKIT_EXPORT CollectionViewItem : public QObject {
    Q_OBJECT
public:
    CollectionViewItem();
    ~CollectionViewItem() override;

    QWidget* view();
    bool isViewLoaded() const { return !m_view.isNull(); }

    QVariant representedObject() const { return m_representedObject; }
    // Subclasses that show the object override this, calling the base first.
    virtual void setRepresentedObject(const QVariant& object);

protected:
    // The item's view; an empty widget unless overridden.
    virtual QWidget* loadView();
    virtual void viewDidLoad();

private:
    QPointer<QWidget> m_view;
    QVariant m_representedObject;
};

// A grid of items, one per element of its content, each made from the item prototype. Items
// are laid out left to right in rows of `itemSize` cells, as many to a row as fit (at most
// `maxNumberOfColumns` when set). Changes show at once; nothing fades.
//
// Replacing the content keeps the item of every element that is the same object as an element
// before (QVariant equality: for a std::shared_ptr, the same pointer) and makes new items for
// the others. Like the table, a document view: its size hints give the height of its rows for
// its current width. Main thread; owned by its parent widget.
class TICKERLYAPPKIT_EXPORT CollectionView : public QWidget {
    Q_OBJECT
public:
    using ItemPrototype = std::function<std::unique_ptr<CollectionViewItem>()>;

    explicit CollectionView(QWidget* parent = nullptr);
    ~CollectionView() override;

    // An empty prototype means none: elements then get no item. Setting it rebuilds every item.
    void setItemPrototype(ItemPrototype prototype);
    bool hasItemPrototype() const { return static_cast<bool>(m_prototype); }

    QVariantList content() const;
    void setContent(const QVariantList& objects);

    int numberOfItems() const { return int(m_entries.size()); }
    // The item of an element (null without a prototype or out of range).
    CollectionViewItem* itemAtIndex(int index) const;
    QRect frameForItemAtIndex(int index) const;

    // The cell size of every item; empty means the first item view's size hint.
    QSize itemSize() const { return m_itemSize; }
    void setItemSize(const QSize& size);
    int spacing() const { return m_spacing; }
    void setSpacing(int spacing);
    // 0: as many columns as fit.
    int maxNumberOfColumns() const { return m_maxNumberOfColumns; }
    void setMaxNumberOfColumns(int columns);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Entry {
        QVariant object;
        std::unique_ptr<CollectionViewItem, void (*)(CollectionViewItem*)> item;
    };

    Entry makeEntry(const QVariant& object);
    QSize cellSize() const;
    int columnsFor(int width) const;
    void layoutItems();

    ItemPrototype m_prototype;
    std::vector<Entry> m_entries;
    QSize m_itemSize;
    int m_spacing = 0;
    int m_maxNumberOfColumns = 0;
};

} // namespace Tickerly::AppKit

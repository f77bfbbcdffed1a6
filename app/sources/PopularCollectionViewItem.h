#pragma once

#include "app/Namespace.h"
#include "app/sources/AddButton.h"
#include "data/model/TopFeedSource.h"
#include "platform/appkit/CollectionView.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"

#include <QImage>
#include <QPointer>
#include <QVariant>

#include <memory>
#include <optional>

namespace Tickerly::App {

// Turns a popular feed (a std::shared_ptr<TopFeedSource> in a QVariant) into its stored icon,
// read anew each time; anything else, or a feed without an icon, into "story-placeholder"
// (a null image when even that is missing).
class IconForSourceTransformer {
public:
    QImage transformedValue(const QVariant& value) const;
};

// Whether a popular feed's source is among the user's sources (same title and link), read
// anew from the store each time; none for anything that is not a popular feed.
class SourceIsAddedTransformer {
public:
    std::optional<bool> transformedValue(const QVariant& value) const;
};

// One popular feed in the panel: its icon, its title and an add button that puts the feed's
// source into the user's list or takes it out. What the item shows follows its represented
// object; the button's state comes back through the panel, which reloads on every change of
// the list. Made from the prototype of the sources storyboard; owned by its collection view.
class PopularCollectionViewItem : public AppKit::CollectionViewItem {
    Q_OBJECT
public:
    PopularCollectionViewItem();

    // A new item made like this one (the collection view makes one per feed).
    virtual std::unique_ptr<PopularCollectionViewItem> copy() const;

    AddButton* addButton() const { return m_addButton; }
    void setAddButton(AddButton* button) { m_addButton = button; }
    StoryList::ImageView* iconView() const { return m_iconView; }
    StoryList::Label* titleLabel() const { return m_titleLabel; }

    std::shared_ptr<Data::TopFeedSource> feed() const;

    void setRepresentedObject(const QVariant& object) override;

    // The add button's action: adds the feed's source, or removes it when it is stored.
    void add(QObject* sender = nullptr);

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

private:
    // What the view shows of the represented object: icon, title and the added state.
    void refreshBindings();

    QPointer<AddButton> m_addButton;
    QPointer<StoryList::ImageView> m_iconView;
    QPointer<StoryList::Label> m_titleLabel;
    bool m_bound = false;
};

} // namespace Tickerly::App

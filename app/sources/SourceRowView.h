#pragma once

#include "app/Namespace.h"
#include "app/sources/SourcesDataSource.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/VisualFormat.h"
#include "platform/appkit/WeakDelegate.h"

#include <QPointer>
#include <QWidget>

#include <memory>

namespace Tickerly::StoryList {
class ImageView;
class Label;
} // namespace Tickerly::StoryList

namespace Tickerly::AppKit {
class ProgressIndicator;
} // namespace Tickerly::AppKit

namespace Tickerly::App {

class FlatButton;
class SourceTableViewCell;

// One source in the sources table: the icon under its rounded overlay (a spinner on it while
// the icon is looked for), the bold title, the address without its scheme and the red remove
// button. Lays itself out in code; made only with its cell. Main thread only.
class SourceRowView : public QWidget {
public:
    explicit SourceRowView(QWidget* parent = nullptr);

    StoryList::Label* title() const { return m_title; }
    StoryList::Label* link() const { return m_link; }
    StoryList::ImageView* icon() const { return m_icon; }
    AppKit::ProgressIndicator* spinner() const { return m_spinner; }
    FlatButton* remove() const { return m_remove; }
    StoryList::ImageView* mask() const { return m_mask; }

    // "title", "link", "remove", "icon", "spinner": the names the layout formats use.
    AppKit::LayoutViews views() const;

    const std::shared_ptr<const SourceData>& data() const { return m_data; }
    void setData(std::shared_ptr<const SourceData> data);

    // The address as shown: without one leading "http://" or "https://".
    static QString formatLink(const QString& link);

    void setup();
    void setupViews();
    void setupSpinner();
    void setupDeleteButton();
    void setupMask();

private:
    void dataChanged();

    StoryList::Label* m_title;
    StoryList::Label* m_link;
    StoryList::ImageView* m_icon;
    AppKit::ProgressIndicator* m_spinner;
    FlatButton* m_remove;
    StoryList::ImageView* m_mask;
    std::shared_ptr<const SourceData> m_data;
};

class SourceTableViewCellDelegate {
public:
    virtual ~SourceTableViewCellDelegate();
    // The remove button of `cell` was pressed.
    virtual void deletePressed(SourceTableViewCell* cell) = 0;
};

// The cell of the sources table's "row" prototype: holds a row view, hands it each row object
// and turns a press of its remove button into `deletePressed` on its delegate (held weakly).
class SourceTableViewCell : public AppKit::TableCellView {
    Q_OBJECT
public:
    explicit SourceTableViewCell(QWidget* parent = nullptr);

    SourceRowView* contentView() const { return m_contentView; }
    void setContentView(SourceRowView* view) { m_contentView = view; }

    SourceTableViewCellDelegate* delegate() const { return m_delegate.get(); }
    void setDelegate(SourceTableViewCellDelegate* delegate) { m_delegate.set(delegate); }

    // Wires the remove button once the outlets are connected.
    void awakeFromNib();
    void deletePressed();

    void setObjectValue(const QVariant& value) override;

    // The scene's "row" prototype: a cell holding a row view, woken.
    static SourceTableViewCell* makeFromPrototype();

private:
    QPointer<SourceRowView> m_contentView;
    AppKit::WeakDelegate<SourceTableViewCellDelegate> m_delegate;
};

} // namespace Tickerly::App

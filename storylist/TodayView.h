#pragma once

#include "storylist/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/VisualFormat.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

namespace Tickerly::StoryList {

class Label;

// The view of a story list: the story table, the "Show more" / "Show less" button, a progress
// wheel and, centred, "No news" while the list is empty. The table, button and wheel are made
// and placed by the interface that makes the view and connected here; the view makes only the
// empty label and, on demand, the height constraint by which the widget sizes itself to its
// rows. Main thread only; owned by its controller or its window.
class TodayView : public QWidget {
public:
    explicit TodayView(QWidget* parent = nullptr);
    ~TodayView() override;

    AppKit::TableView* tableView() const { return m_tableView; }
    void setTableView(AppKit::TableView* tableView) { m_tableView = tableView; }
    QAbstractButton* expandButton() const { return m_expandButton; }
    void setExpandButton(QAbstractButton* button) { m_expandButton = button; }
    AppKit::ProgressIndicator* spinner() const { return m_spinner; }
    void setSpinner(AppKit::ProgressIndicator* spinner) { m_spinner = spinner; }
    const AppKit::LayoutConstraintRef& heightConstraint() const { return m_heightConstraint; }
    void setHeightConstraint(AppKit::LayoutConstraintRef constraint)
    {
        m_heightConstraint = std::move(constraint);
    }

    Label* const emptyLabel;
    AppKit::LayoutViews views() const;

    bool isEmpty() const { return m_isEmpty; }
    // Shows the empty label and hides the expand button, or the other way round.
    void setIsEmpty(bool isEmpty);
    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded);

    void updateExpandButtonTitle(bool expanded);
    // Sizes the view for `rows` story rows: 100 points for none, else 77 per row and 30 for
    // the button.
    void updateHeight(qint64 rows);

private:
    void setup();

    QPointer<AppKit::TableView> m_tableView;
    QPointer<QAbstractButton> m_expandButton;
    QPointer<AppKit::ProgressIndicator> m_spinner;
    AppKit::LayoutConstraintRef m_heightConstraint;
    bool m_isEmpty = false;
    bool m_expanded = false;
};

} // namespace Tickerly::StoryList

#pragma once

#include "storylist/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/WeakDelegate.h"
#include "storylist/ListRowViewData.h"
#include "storylist/RowOptionsView.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QMouseEvent;

namespace Tickerly::AppKit {
class PanGestureRecognizer;
} // namespace Tickerly::AppKit

namespace Tickerly::StoryList {

class ListCellView;
class ListRowContentView;
class NSViewAnimation;

// What a story row asks of the list that shows it. Held weakly: a delegate that is a QObject
// is forgotten when it dies.
class ListCellViewDelegate {
public:
    virtual ~ListCellViewDelegate();
    // The row was clicked.
    virtual void rowViewPressed(ListCellView* rowView) = 0;
    // The row's close button was pressed, or the row was swiped off to the right.
    virtual void rowViewDeleted(ListCellView* rowView) = 0;
    // The row was right-clicked; `event` is that click.
    virtual void rowViewShowShare(ListCellView* rowView, QMouseEvent* event) = 0;
    // The option buttons for the row's strip.
    virtual QList<RowOption> rowViewOptions(ListCellView* rowView) = 0;
    // An option button of the row's strip was pressed.
    virtual void rowViewOptionPressed(const QString& identifier, ListCellView* rowView) = 0;
};

// One row of the story list: the row's body in front, the strip of option buttons behind it off
// the right edge. Binds the row model the table hands it, turns clicks, the close and share
// buttons, a right click and option presses into delegate calls, and slides the body sideways
// under a pan: far right dismisses the story (the uncovered background turns red), far left
// leaves the options open, anywhere else springs back.
//
// Made by the story table for its rows and reused by it; main thread only. Owns its body,
// strip, constraints, recogniser and model, not its delegate.
class ListCellView : public AppKit::TableCellView, public RowOptionsViewDelegate {
    Q_OBJECT
public:
    explicit ListCellView(QWidget* parent = nullptr);
    ~ListCellView() override;

    ListRowContentView* const contentView;
    RowOptionsView* const optionsView;

    ListCellViewDelegate* delegate() const;
    // Also rebuilds the option strip from the new delegate (empties it without one).
    void setDelegate(ListCellViewDelegate* delegate);

    const std::shared_ptr<const ListRowViewData>& data() const { return m_data; }
    // Binds the model: shows it at rest, or hides the cell when there is none.
    void setData(std::shared_ptr<const ListRowViewData> data);
    // A row model binds; any other value binds as none.
    void setObjectValue(const QVariant& value) override;

    // Dims the row as read until the next binding.
    void setRead();
    void deselect();

    // Where the body's left edge sits: 0 at rest, negative pushed left, positive pushed right.
    // Setting it moves the views at the next layout pass.
    double margin() const;
    void setMargin(double margin);
    // The cell's own background shows red (seen where the body has slid right).
    bool isRed() const { return m_isRed; }
    void setIsRed(bool isRed);
    // Whether the row is at the open position (or further left); setting it slides the row
    // there or back to rest.
    bool optionsOpen() const;
    void setOptionsOpen(bool open);

    bool buttonsAlwaysVisible() const { return m_buttonsAlwaysVisible; }
    void setButtonsAlwaysVisible(bool visible);

    AppKit::PanGestureRecognizer* panGestureRecognizer() const { return m_panGestureRecognizer; }
    const AppKit::LayoutConstraintRef& leftMargin() const { return m_leftMargin; }
    const AppKit::LayoutConstraintRef& optionsRightMargin() const { return m_optionsRightMargin; }
    double initialSlideValue() const { return m_initialSlideValue; }
    QColor backgroundColor() const { return m_background; }

    // The recogniser's action and its three outcomes.
    void didPan(AppKit::PanGestureRecognizer* recognizer);
    double slideValue(AppKit::PanGestureRecognizer* recognizer) const;
    void panDidChange(AppKit::PanGestureRecognizer* recognizer);
    void panDidFinish(AppKit::PanGestureRecognizer* recognizer);
    void panDidFail(AppKit::PanGestureRecognizer* recognizer);

    void updateRowOptions();
    void rowOptionButtonPressed(const QString& identifier, RowOptionsView* optionsView) override;

    // The actions of the body, its close button and its share button.
    void didClick();
    void closeButtonClicked();
    void shareButtonClicked();

    // The body keeps this many points in view at the open position.
    static constexpr double openVisibleWidth = 50;
    // Beyond these slide values a release dismisses (right) or opens (left).
    static constexpr double dismissThreshold = 100;
    static constexpr double openThreshold = -200;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void setup();
    void setupViews();
    void setupOptionsView();
    void setupPanGesture();
    void bind();
    double openMargin() const;
    // Lets the views follow the margin over 0.3 s, turning the background red or clear too
    // when `red` is given.
    std::shared_ptr<NSViewAnimation> slideToMargin(std::optional<bool> red);

    AppKit::PanGestureRecognizer* m_panGestureRecognizer = nullptr;
    AppKit::LayoutConstraintRef m_leftMargin;
    AppKit::LayoutConstraintRef m_optionsRightMargin;
    double m_initialSlideValue = 0;
    AppKit::WeakDelegate<ListCellViewDelegate> m_delegate;
    std::shared_ptr<const ListRowViewData> m_data;
    // What the cell showed when the pan under way began.
    std::shared_ptr<const ListRowViewData> m_pannedData;
    // What the cell showed when a dismissing pan ended, until it has slid out.
    std::shared_ptr<const ListRowViewData> m_leaving;
    bool m_isRed = false;
    QColor m_background = QColor(Qt::transparent);
    bool m_buttonsAlwaysVisible = false;
};

} // namespace Tickerly::StoryList

#pragma once

#include "storylist/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"
#include "platform/appkit/VisualFormat.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QRect>

#include <functional>
#include <optional>

class QMouseEvent;

namespace Tickerly::StoryList {

class ImageButton;
class ImageView;
class Label;

// The visible body of one story row: picture at the left edge, source icon, bold headline,
// shortened body, the time at the right and a close and a share button under it. A
// borderless, title-less button: it highlights itself while the pointer is over it, shows its
// buttons by the row settings and hands a right click to a closure. The row cell makes one,
// fills it and connects its presses; the view itself tells no one anything.
// Made in code only; main thread only.
class ListRowContentView : public QAbstractButton {
public:
    explicit ListRowContentView(QWidget* parent = nullptr);
    ~ListRowContentView() override;

    Label* const titleLabel;
    Label* const timeLabel;
    Label* const text;
    ImageView* const imageView;
    ImageView* const icon;
    ImageButton* const closeButton;
    ImageButton* const shareButton;

    // Called with the event of a right click (on release); nothing happens without one.
    std::function<void(QMouseEvent*)> rightClickAction;

    // The image column's width (50 with story images on, 0 with them off); the cell changes
    // its constant.
    const AppKit::LayoutConstraintRef& imageWidth() const { return m_imageWidth; }

    // Hover tracking: off removes the tracking area, so entering and leaving change nothing;
    // on (also when it already was) lays the view out, which installs a fresh one.
    bool trackingEnabled() const { return m_trackingEnabled; }
    void setTrackingEnabled(bool enabled);
    // The area hover is tracked over (the bounds at the last layout pass), if installed.
    const std::optional<QRect>& trackingArea() const { return m_trackingArea; }

    // The subviews by the names the row's visual formats use.
    AppKit::LayoutViews views() const;

    static ImageButton* setupCloseButton();
    static ImageButton* setupShareButton();

    const std::optional<QDateTime>& date() const { return m_date; }
    // Stores the date and shows it in the time label.
    void setDate(std::optional<QDateTime> date);
    // "" without a date; the short time of day for a story less than 86,400 seconds old (or
    // dated in the future); the short date otherwise. In the user's locale and time zone.
    static QString timeLabelStringFromDate(const std::optional<QDateTime>& date);

    // One layout pass: the constraints, then a fresh tracking area when tracking is on, then
    // the body hidden when it got less than 10 points of height.
    void layoutRow();

    // Highlighted, with the buttons shown by the row settings. A new view starts selected.
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    bool buttonsAlwaysVisible() const { return m_buttonsAlwaysVisible; }
    void setButtonsAlwaysVisible(bool visible);
    void updateSelected();

    // The pointer entered or left the tracking area.
    void mouseEntered();
    void mouseExited();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setup();
    void setupViews();
    void updateTextVisibility();
    void updateTextInset();

    std::optional<QRect> m_trackingArea;
    AppKit::LayoutConstraintRef m_imageWidth;
    AppKit::LayoutConstraintRef m_textLeft;
    bool m_trackingEnabled = true;
    std::optional<QDateTime> m_date;
    bool m_selected = false;
    bool m_buttonsAlwaysVisible = false;
};

} // namespace Tickerly::StoryList

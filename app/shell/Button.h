#pragma once

#include "app/Namespace.h"
#include "app/shell/Control.h"

#include <QImage>

#include <optional>

namespace Tickerly::App {

// A grey rounded push control with a centred white title, whose shade follows the pointer
// (normal, hover, pressed; hover only while its window is active). It sends its action on every
// left-button release, wherever the pointer is then. The done button of the installation help.
// Main thread only; owned by its parent.
class Button : public Control {
    Q_OBJECT
public:
    enum class State { normal = 0, hover = 1, pressed = 2 };

    explicit Button(QWidget* parent = nullptr);

    // Only sets the intrinsic size; it is not drawn.
    const std::optional<QImage>& backgroundImage() const { return m_backgroundImage; }
    void setBackgroundImage(std::optional<QImage> image);

    QString title() const { return m_title; }
    void setTitle(const QString& title);

    AppKit::TrackingAreaRef trackingArea() const { return m_trackingArea; }
    void setTrackingArea(AppKit::TrackingAreaRef area) { m_trackingArea = std::move(area); }

    State state() const { return m_state; }
    void setState(State state);

    void updateTrackingArea();

    // Where the title is drawn: full width, one line high, one point above the middle.
    QRectF titleRect() const;

    // The background image's size; without one, none.
    QSize sizeHint() const override;

protected:
    void layout() override;
    void paintEvent(QPaintEvent* event) override;
    void mouseEntered() override;
    void mouseExited() override;
    void mouseDown(QMouseEvent* event) override;
    void mouseUp(QMouseEvent* event) override;

private:
    std::optional<QImage> m_backgroundImage;
    QString m_title;
    AppKit::TrackingAreaRef m_trackingArea;
    State m_state = State::normal;
};

} // namespace Tickerly::App

#pragma once

#include "app/Namespace.h"
#include "app/shell/Control.h"

#include <QColor>
#include <QPainterPath>

class QLabel;

namespace Tickerly::App {

// A flat rounded button in one of two colours: a one-point outline and a title in its colour
// at rest; filled in its colour with a white title while the left button is held on it. It sends
// its action when the button is released on it; leaving it while held cancels the press. The
// remove button of the source rows. Main thread only; owned by its parent.
class FlatButton : public Control {
    Q_OBJECT
public:
    enum class Color { red = 0, green = 1 };

    // The rounded shape as drawn under the title.
    struct ShapeLayer {
        QPainterPath path;
        QColor fillColor;
        QColor strokeColor;
        qreal lineWidth = 1.0;
    };

    explicit FlatButton(QWidget* parent = nullptr);

    const ShapeLayer& background() const { return m_background; }
    QLabel* label() const { return m_label; }

    Color color() const { return m_color; }
    void setColor(Color color);

    // The label's text. Setting it leaves the intrinsic size to be asked again by the layout.
    QString title() const;
    void setTitle(const QString& title);

    AppKit::TrackingAreaRef trackingArea() const { return m_trackingArea; }
    void setTrackingArea(AppKit::TrackingAreaRef area) { m_trackingArea = std::move(area); }

    bool pressed() const { return m_pressed; }
    void setPressed(bool pressed);

    // The title's width plus 20, and 30 high.
    QSize sizeHint() const override;

    static QColor platformColor(Color color, double alpha = 1.0);

protected:
    void setup();
    void setupTracking();
    void setupTitle();
    void layout() override;
    void updatePath();
    void updateState();

    void paintEvent(QPaintEvent* event) override;
    void mouseDown(QMouseEvent* event) override;
    void mouseUp(QMouseEvent* event) override;
    void mouseExited() override;

private:
    ShapeLayer m_background;
    QLabel* m_label;
    Color m_color = Color::green;
    AppKit::TrackingAreaRef m_trackingArea;
    bool m_pressed = false;
};

} // namespace Tickerly::App

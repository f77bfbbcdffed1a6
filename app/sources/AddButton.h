#pragma once

#include "app/Namespace.h"
#include "app/shell/Control.h"

#include <QColor>

class QLabel;

namespace Tickerly::App {

// The add toggle of a popular feed: "Tilføj" in green while the feed is not among the user's
// sources, "Fjern" in red once it is (its owner sets `added`; a click only sends the action).
// A rounded outline in that colour, filled with a white title while the left button is held.
// It sends its action on a release that follows a press on it, wherever the pointer is then.
// Sized by its owner. Main thread only; owned by its parent.
class AddButton : public Control {
    Q_OBJECT
public:
    explicit AddButton(QWidget* parent = nullptr);

    // The title, made on first use.
    QLabel* label();
    QColor color() const;

    bool added() const { return m_added; }
    void setAdded(bool added);

    bool pressed() const { return m_pressed; }
    void setPressed(bool pressed);

    // Called by the scene that makes the button, once its outlets are connected.
    void awakeFromNib();

protected:
    void setup();
    QLabel* setupLabel();
    void updateTextColor();
    void layout() override;

    void paintEvent(QPaintEvent* event) override;
    void mouseDown(QMouseEvent* event) override;
    void mouseUp(QMouseEvent* event) override;

private:
    bool m_added = false;
    bool m_pressed = false;
};

} // namespace Tickerly::App

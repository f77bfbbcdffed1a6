#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <QColor>
#include <QWidget>

namespace Tickerly::AppKit {

// A small spinning wheel that says work is under way. Shown only while animating; it turns on
// the main queue's clock, and rests while its window is closed. Main thread only; owned by its
// parent.
class TICKERLYAPPKIT_EXPORT ProgressIndicator : public QWidget {
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    bool isAnimating() const { return m_animating; }
    // Shows the wheel and starts it turning; `sender` plays no part.
    void startAnimation(QObject* sender = nullptr);
    void stopAnimation(QObject* sender = nullptr);

    void setColor(const QColor& color);
    // The spoke drawn brightest.
    int phase() const { return m_phase; }

    QSize sizeHint() const override { return QSize(16, 16); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void step(unsigned generation);

    bool m_animating = false;
    // Animating, but out of sight: the next showing turns it again.
    bool m_resting = false;
    unsigned m_generation = 0;
    int m_phase = 0;
    QColor m_color = QColor(255, 255, 255);
};

} // namespace Tickerly::AppKit

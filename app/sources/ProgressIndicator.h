#pragma once

#include <QWidget>

#include <cstdint>

// The platform's spinning progress indicator: twelve spokes turning while animating. Frames are
// steps on the main queue's clock, so tests turn it with a virtual clock. At rest it shows its
// spokes still, unless hidden. Main thread only; owned by its parent.
class ProgressIndicator : public QWidget {
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    bool isAnimating() const { return m_animating; }
    // `sender` is not read; kept for the callers that name themselves.
    void startAnimation(QObject* sender = nullptr);
    void stopAnimation(QObject* sender = nullptr);

    // The spoke drawn brightest.
    int phase() const { return m_phase; }

    QSize sizeHint() const override { return QSize(16, 16); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void step(std::uint64_t generation);

    bool m_animating = false;
    int m_phase = 0;
    std::uint64_t m_generation = 0;
};

#pragma once

#include "storylist/Namespace.h"

#include <QAbstractButton>
#include <QImage>

namespace Tickerly::StoryList {

// A borderless button that shows only its picture, centred and never scaled up (scaled down
// to fit when it is larger than the button). The content size is the picture's size in
// points. Main thread only.
class ImageButton : public QAbstractButton {
public:
    explicit ImageButton(const QImage& image = QImage(), QWidget* parent = nullptr);

    QImage image() const { return m_image; }
    void setImage(const QImage& image);

    // How opaque the whole button draws (its layer opacity).
    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return QSize(0, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    qreal m_opacity = 1.0;
};

} // namespace Tickerly::StoryList

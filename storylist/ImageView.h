#pragma once

#include "storylist/Namespace.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace Tickerly::StoryList {

// The system's small image view: draws one picture scaled to cover its bounds (centred, the
// excess cut off) and plays named frame sequences at a frame rate, one step at a time on the
// main queue's clock, until the sequence is replaced, stopped or the view goes away.
// Subclasses (the refresh spinner) see every step through the virtual accessors. Made in code
// only; main thread only.
class ImageView : public QWidget {
public:
    explicit ImageView(std::optional<QImage> image = std::nullopt, QWidget* parent = nullptr);

    virtual std::optional<QImage> image() const { return m_image; }
    // Shows `image` (none shows nothing) and asks for a redraw of the whole view.
    virtual void setImage(std::optional<QImage> image);

    // The running sequence's frames; a sequence read as it plays is read whole here.
    virtual std::optional<QList<QImage>> images() const;
    virtual void setImages(std::optional<QList<QImage>> images);
    virtual std::int64_t nextImageIndex() const { return m_nextImageIndex; }
    virtual void setNextImageIndex(std::int64_t index) { m_nextImageIndex = index; }
    virtual std::optional<QString> sequenceName() const { return m_sequenceName; }
    virtual void setSequenceName(std::optional<QString> name) { m_sequenceName = std::move(name); }

    // The picture's size in points; zero without one.
    QSize intrinsicContentSize() const;
    QSize sizeHint() const override { return intrinsicContentSize(); }
    QSize minimumSizeHint() const override { return QSize(0, 0); }

    // Starts `frames` under `name` at frame 0, one frame every 1/fps seconds (fps below 1
    // counts as 1). The sequence that ran before stops at its next step, also when it had the
    // same name. No frames (or none at all) stop the sequence and show no new frame.
    virtual void animateSequence(
        std::optional<QList<QImage>> frames, const QString& name, std::int64_t fps = 24);
    // The same over `count` frames that are read (`read(i)`) only as the steps reach them, so
    // that a long sequence nobody sees, or one stopped at once, reads one frame and not all.
    void animateSequence(qsizetype count, std::function<QImage(qsizetype)> read,
        const QString& name, std::int64_t fps = 24);
    // One step: shows the next frame and schedules the step after it.
    virtual void nextImage(const QString& name, std::int64_t fps);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What both forms of animateSequence do once the frames are set: a new chain from frame 0.
    void startSequence(qsizetype count, const QString& name, std::int64_t fps);

    std::optional<QImage> m_image;
    std::optional<QList<QImage>> m_images;
    // Set while a sequence is read as it plays (m_images is then none).
    std::function<QImage(qsizetype)> m_readFrame;
    qsizetype m_frameCount = 0;
    std::int64_t m_nextImageIndex = 0;
    std::optional<QString> m_sequenceName;
    // Each animateSequence starts a new chain; older chains end at their next step.
    std::uint64_t m_generation = 0;
};

} // namespace Tickerly::StoryList

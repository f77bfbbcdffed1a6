#include "storylist/ImageView.h"

#include "platform/appkit/ConstraintLayout.h"
#include "platform/foundation/base/MainQueue.h"

#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;

ImageView::ImageView(std::optional<QImage> image, QWidget* parent)
    : QWidget(parent)
    , m_image(std::move(image))
{
    setAttribute(Qt::WA_TranslucentBackground);
    // A zero frame until constraints place it.
    resize(0, 0);
    setAutoFillBackground(false);
}

void ImageView::setImage(std::optional<QImage> image)
{
    const QSize before = intrinsicContentSize();
    m_image = std::move(image);
    if (intrinsicContentSize() != before)
        AppKit::invalidateIntrinsicContentSize(this);
    update(rect());
}

QSize ImageView::intrinsicContentSize() const
{
    if (!m_image || m_image->isNull())
        return QSize(0, 0);
    return m_image->deviceIndependentSize().toSize();
}

void ImageView::paintEvent(QPaintEvent*)
{
    const std::optional<QImage> shown = image();
    if (!shown || shown->isNull())
        return;
    const QSizeF imageSize = shown->deviceIndependentSize();
    const qreal sx = width() / imageSize.width();
    const qreal sy = height() / imageSize.height();
    const qreal s = sy < sx ? sx : sy;
    const QSizeF drawn(imageSize.width() * s, imageSize.height() * s);
    const QRectF target(
        QPointF(width() * 0.5 - drawn.width() * 0.5, height() * 0.5 - drawn.height() * 0.5), drawn);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The image is the first thing this view draws, so drawing it under an empty view and over
    // it are the same; over is what a shared backing store (the parent painted first) needs.
    painter.drawImage(target, *shown, QRectF(QPointF(0, 0), shown->size()));
}

std::optional<QList<QImage>> ImageView::images() const
{
    if (!m_readFrame)
        return m_images;
    QList<QImage> frames;
    frames.reserve(m_frameCount);
    for (qsizetype i = 0; i < m_frameCount; ++i)
        frames << m_readFrame(i);
    return frames;
}

void ImageView::setImages(std::optional<QList<QImage>> images)
{
    m_readFrame = nullptr;
    m_frameCount = 0;
    m_images = std::move(images);
}

void ImageView::animateSequence(
    std::optional<QList<QImage>> frames, const QString& name, std::int64_t fps)
{
    const qsizetype count = frames ? frames->size() : 0;
    setImages(std::move(frames));
    startSequence(count, name, fps);
}

void ImageView::animateSequence(
    qsizetype count, std::function<QImage(qsizetype)> read, const QString& name, std::int64_t fps)
{
    if (!read)
        count = 0;
    setImages(std::nullopt);
    if (count > 0) {
        m_readFrame = std::move(read);
        m_frameCount = count;
    }
    startSequence(count, name, fps);
}

void ImageView::startSequence(qsizetype count, const QString& name, std::int64_t fps)
{
    std::printf("Animating %s %lld\n", qUtf8Printable(name), static_cast<long long>(count));
    std::fflush(stdout);
    ++m_generation;
    setNextImageIndex(0);
    setSequenceName(name);
    nextImage(name, fps);
}

void ImageView::nextImage(const QString& name, std::int64_t fps)
{
    std::optional<QList<QImage>> frames;
    qsizetype count = m_frameCount;
    if (!m_readFrame) {
        frames = images();
        count = frames ? frames->size() : 0;
    }
    if (count == 0)
        return;
    std::int64_t index = nextImageIndex();
    // Frames or index changed from outside: start over rather than read past the list.
    if (index < 0 || index >= count)
        index = 0;
    setImage(frames ? frames->at(index) : m_readFrame(index));
    setNextImageIndex((index + 1) % count);

    fps = std::max<std::int64_t>(fps, 1);
    const double delay = std::trunc(1.0 / static_cast<double>(fps) * 1e9) / 1e9;
    const std::uint64_t generation = m_generation;
    QPointer<ImageView> view(this);
    MainQueue::dispatchAfter(
        delay,
        [view, name, fps, generation] {
            if (!view || view->m_generation != generation)
                return;
            const std::optional<QString> running = view->sequenceName();
            if (!running || *running != name)
                return;
            view->nextImage(name, fps);
        },
        this);
}

} // namespace Tickerly::StoryList

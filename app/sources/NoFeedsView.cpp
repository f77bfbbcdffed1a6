#include "NoFeedsView.h"

#include "app/shell/Style.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/ImageView.h"
#include "storylist/ViewKit.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcWelcome, "tickerly.sources.welcome")

namespace {

constexpr int kWaveFrames = 128;
constexpr int kWaveSide = 300;

// An image view seen through a layer mask: what it draws shows only through the mask picture's
// opaque parts, the picture stretched over `frame`.
class MaskedImageView : public ImageView {
public:
    void setMask(QImage contents, QRectF frame)
    {
        m_contents = std::move(contents);
        m_frame = frame;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const std::optional<QImage> shown = image();
        if (!shown || shown->isNull() || width() <= 0 || height() <= 0)
            return;
        const qreal dpr = devicePixelRatioF();
        QImage layer(size() * dpr, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
        layer.fill(Qt::transparent);
        {
            QPainter p(&layer);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            // Covers the bounds, centred, as every image view draws its picture.
            const QSizeF picture = shown->deviceIndependentSize();
            const qreal s = std::max(width() / picture.width(), height() / picture.height());
            const QSizeF drawn = picture * s;
            p.drawImage(
                QRectF(
                    QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2), drawn),
                *shown);
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            if (m_contents.isNull())
                p.fillRect(rect(), Qt::transparent);
            else
                p.drawImage(m_frame, m_contents);
        }
        QPainter(this).drawImage(QPointF(0, 0), layer);
    }

private:
    QImage m_contents;
    QRectF m_frame;
};

} // namespace

QStringList NoFeedsView::waveFrameNames(const std::function<bool(const QString&)>& exists)
{
    QStringList frames;
    frames.reserve(kWaveFrames);
    int missing = 0;
    for (int i = 0; i < kWaveFrames; ++i) {
        QString name = u"Wave_%1"_s.arg(i, 5, 10, QChar(u'0'));
        if (exists(name))
            frames << std::move(name);
        else
            ++missing;
    }
    static bool told = false;
    if (missing && !std::exchange(told, true))
        qCWarning(lcWelcome) << missing << "of the welcome wave's frames are missing";
    return frames;
}

NoFeedsView::NoFeedsView(QWidget* parent)
    : QWidget(parent)
    , m_imageView(new MaskedImageView)
    , m_welcomeTitle(initTextField(~u"No feeds title"_s, Style::white(0.35), Style::lightFont(30)))
    , m_welcomeText(initTextField(~u"No feeds text"_s, Style::white(0.5), Style::lightFont(15)))
{
    setup();
}

LayoutViews NoFeedsView::views() const
{
    return { { u"image"_s, m_imageView }, { u"title"_s, m_welcomeTitle },
        { u"text"_s, m_welcomeText } };
}

void NoFeedsView::setup()
{
    const LayoutViews named = views();
    addSubviews(this, named.values());
    constraints(this, u"|[image(300)]-10-[title]-10-[text]|"_s, std::nullopt, named);
    constraint(this, m_imageView, LayoutAttribute::Width, LayoutRelation::Equal, m_imageView,
        LayoutAttribute::Height);
    for (QWidget* view : named)
        constraint(this, view, LayoutAttribute::CenterX, LayoutRelation::Equal, this,
            LayoutAttribute::CenterX);
    setupAnimatedImage();
}

void NoFeedsView::setupAnimatedImage()
{
    static_cast<MaskedImageView*>(m_imageView)
        ->setMask(imageNamed(u"wave mask"_s), QRectF(0, 0, kWaveSide, kWaveSide));
    startAnimation();
}

void NoFeedsView::startAnimation()
{
    // Each frame is read as its step comes and let go with the next one: read at once, the 128
    // decoded frames (45 MB) held back the window's first paint, and kept, a turn of the wave
    // left them all in memory for good.
    const QStringList frames = waveFrameNames(hasImageNamed);
    m_imageView->animateSequence(
        frames.size(), [frames](qsizetype i) { return imageNamedUncached(frames.at(i)); },
        u"wave %1"_s.arg(m_counter));
    ++m_counter;
}

void NoFeedsView::stopAnimation() { m_imageView->animateSequence(std::nullopt, u"none"_s); }

void NoFeedsView::setVisible(bool visible)
{
    m_restingWithWindow = false;
    QWidget::setVisible(visible);
    if (m_followingParent)
        return;
    if (visible)
        startAnimation();
    else
        stopAnimation();
}

void NoFeedsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The welcome screen hands its own showing on afterwards.
    if (m_followingParent)
        return;
    if (std::exchange(m_restingWithWindow, false))
        startAnimation();
}

void NoFeedsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Hidden itself or with the welcome screen, setVisible stops the wave.
    if (isHidden() || m_followingParent || m_restingWithWindow)
        return;
    m_restingWithWindow = true;
    stopAnimation();
}

NoFeedsParentView::NoFeedsParentView(QWidget* parent)
    : QWidget(parent)
{
}

NoFeedsView* NoFeedsParentView::contentView()
{
    if (!m_contentView) {
        m_contentView = new NoFeedsView;
        setup();
    }
    return m_contentView;
}

void NoFeedsParentView::setup()
{
    // Adopted without a visibility call of its own: that would restart the wave.
    m_contentView->setParent(this);
    constraint(this, m_contentView, LayoutAttribute::CenterY, LayoutRelation::Equal, this,
        LayoutAttribute::CenterY);
    constraints(this, std::nullopt, u"|[view]|"_s, { { u"view"_s, m_contentView } });
    // A child that comes to a container on screen is not shown with it.
    if (isVisible()) {
        m_contentView->m_followingParent = true;
        m_contentView->show();
        m_contentView->m_followingParent = false;
    }
}

void NoFeedsParentView::setVisible(bool visible)
{
    // Until the first showing there is no wave to stop.
    if (!visible && !m_contentView) {
        QWidget::setVisible(false);
        return;
    }
    NoFeedsView* content = contentView();
    // Showing a window shows its children through their setVisible too; the content hears
    // of the change once, below.
    content->m_followingParent = true;
    QWidget::setVisible(visible);
    content->m_followingParent = false;
    content->setHidden(!visible);
}

void NoFeedsParentView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), Style::white(0.98));
}

} // namespace Tickerly::App

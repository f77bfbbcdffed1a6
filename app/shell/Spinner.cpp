#include "app/shell/Spinner.h"

#include "platform/appkit/ImageNamed.h"

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kFrameCount = 128;
constexpr std::int64_t kLoopFramesPerSecond = 60;
const QString kSequenceName = u"spinner"_s;

std::optional<QImage> imageOrNone(const QString& name)
{
    QImage image = imageNamed(name);
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace

Spinner::Spinner()
    : ImageView(imageOrNone(frameName(0)))
{
}

std::optional<QList<QImage>> Spinner::anim() const
{
    if (!m_animLoaded) {
        m_anim = loadImages();
        m_animLoaded = true;
    }
    return m_anim;
}

void Spinner::setAnim(std::optional<QList<QImage>> anim)
{
    m_anim = std::move(anim);
    m_animLoaded = true;
}

QString Spinner::frameName(std::int64_t frame)
{
    return QString::asprintf("Wave_small_%05lld", static_cast<long long>(frame));
}

QList<QImage> Spinner::loadImages() const
{
    QList<QImage> frames;
    frames.reserve(kFrameCount);
    for (int i = 0; i < kFrameCount; ++i) {
        const QString name = frameName(i);
        QImage image = imageNamed(name);
        // The frames are compiled in: a missing one is a broken build, not a user's problem.
        if (image.isNull())
            qFatal("Spinner frame %s is missing", qUtf8Printable(name));
        frames.append(std::move(image));
    }
    return frames;
}

void Spinner::startAnimating() { animateSequence(anim(), kSequenceName, kLoopFramesPerSecond); }

void Spinner::stopAnimating()
{
    animateSequence(std::nullopt, QString());
    setImage(imageOrNone(frameName(0)));
}

void Spinner::setProgress(std::int64_t frame)
{
    animateSequence(std::nullopt, QString());
    setImage(imageOrNone(frameName(frame)));
}

} // namespace Tickerly::App

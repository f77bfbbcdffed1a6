// The application's own pictures and sounds.
//
//   Wave_%05i.png            128 frames, 300×300: two layers of water rolling across the whole
//                            square, seen through "wave mask"; one loop is 128 frames.
//   Wave_small_%05i.png      128 frames, 100×100: the same water in a round glass on a
//                            transparent ground, for the pull-to-refresh spinner. Frame 0 rests.
//   wave mask.png            300×300 round alpha mask.
//   iconMask.png             128×128 overlay for a square source icon: a clear squircle window
//                            with white corners, so the icon looks rounded on a white row.
//   story-placeholder.png    128×128 grey squircle with three lines, for feeds without an icon.
//   Installing step 1-3.png  280×180 pictures of adding the widget to the panel: open the panel,
//                            press its add button, see the stories in it.
//   AppIcon.png              256×256 application icon.
//   Add feed.wav             a rising two-note chime, 0.4 s.
//   Remove feed.wav          a falling tone, 0.3 s.
//   clickwave.wav            a click and a short whoosh, 0.22 s.
// Sounds are 16-bit mono PCM at 44.1 kHz.

#include "Resource.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const QColor kGreen = QColor::fromRgbF(0.1f, 0.67f, 0.13f);
const QColor kDeepWater(0x0e, 0x7c, 0x86);
const QColor kLightWater(0x5f, 0xc9, 0xb8);
const QColor kSky(0xe9, 0xf6, 0xf4);

// A picture of `size` on `ground`, painted anti-aliased by `paint`.
QImage drawn(const QSize& size, const QColor& ground, const std::function<void(QPainter&)>& paint)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return image;
}

// A water surface over `rect`, its level at `level` (0 top, 1 bottom) and a swell that travels
// one whole number of waves per loop, so the last frame leads back into the first.
QPainterPath water(const QRectF& rect, double level, double amplitude, double waves, double phase)
{
    QPainterPath path;
    const double y0 = rect.top() + rect.height() * level;
    path.moveTo(rect.left(), rect.bottom());
    constexpr int steps = 120;
    for (int i = 0; i <= steps; ++i) {
        const double x = rect.left() + rect.width() * i / steps;
        const double y = y0 + amplitude * std::sin(2 * M_PI * waves * i / steps + phase);
        path.lineTo(x, y);
    }
    path.lineTo(rect.right(), rect.bottom());
    path.closeSubpath();
    return path;
}

void paintWater(
    QPainter& painter, const QRectF& rect, int index, int count, double level, double amplitude)
{
    const double turn = 2 * M_PI * index / count;
    QColor back = kLightWater;
    back.setAlphaF(0.75f);
    painter.fillPath(water(rect, level - 0.03, amplitude * 0.8, 1.5, -turn * 2 + 1.3), back);
    QLinearGradient deep(rect.topLeft(), rect.bottomLeft());
    deep.setColorAt(level, kDeepWater.lighter(115));
    deep.setColorAt(1, kDeepWater.darker(130));
    painter.fillPath(water(rect, level, amplitude, 1.0, turn), deep);
}

bool waveFrame(int index, int count, const QString& output)
{
    // The level breathes once per loop around the middle.
    const double level = 0.52 + 0.04 * std::sin(2 * M_PI * index / count);
    return drawn(QSize(300, 300), kSky, [&](QPainter& painter) {
        paintWater(painter, QRectF(0, 0, 300, 300), index, count, level, 14);
    }).save(output, "PNG");
}

bool smallWaveFrame(int index, int count, const QString& output)
{
    return drawn(QSize(100, 100), Qt::transparent, [&](QPainter& painter) {
        // The refresh strip's spinner reaches 6.5 of its 50 points below the strip; with this
        // margin the glass stays out of the list at rest.
        const QRectF glass(15, 15, 70, 70);
        QPainterPath round;
        round.addEllipse(glass);
        painter.setClipPath(round);
        painter.fillRect(glass, kSky);
        // Frame 0 is still; then the water rises as the frames go on, so a pull reads as filling.
        const double fill = double(index) / (count - 1);
        const double level = 0.85 - 0.45 * fill;
        paintWater(painter, glass, index, count, level, index == 0 ? 0 : 5);
        painter.setClipping(false);
        painter.setPen(QPen(kDeepWater, 4));
        painter.drawEllipse(glass);
    }).save(output, "PNG");
}

QImage waveMask()
{
    return drawn(QSize(300, 300), Qt::transparent, [](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(0, 0, 300, 300));
    });
}

QImage iconMask()
{
    return drawn(QSize(128, 128), Qt::white, [](QPainter& painter) {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(squirclePath(QRectF(0, 0, 128, 128)), Qt::black);
    });
}

QImage storyPlaceholder()
{
    return drawn(QSize(128, 128), Qt::transparent, [](QPainter& painter) {
        painter.fillPath(squirclePath(QRectF(0, 0, 128, 128)), QColor(0xd9, 0xdc, 0xe0));
        painter.setPen(QPen(QColor(0x9a, 0xa0, 0xa8), 10, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(34, 44), QPointF(94, 44));
        painter.drawLine(QPointF(34, 64), QPointF(94, 64));
        painter.drawLine(QPointF(34, 84), QPointF(74, 84));
    });
}

QImage appIcon()
{
    return drawn(QSize(256, 256), Qt::transparent, [](QPainter& painter) {
        const QRectF body(8, 8, 240, 240);
        const QPainterPath shape = squirclePath(body);
        QLinearGradient ground(body.topLeft(), body.bottomLeft());
        ground.setColorAt(0, kGreen.lighter(125));
        ground.setColorAt(1, kDeepWater);
        painter.fillPath(shape, ground);
        painter.setClipPath(shape);
        QColor foam = Qt::white;
        foam.setAlphaF(0.35f);
        painter.fillPath(water(body, 0.68, 12, 1.2, 0.6), foam);
        painter.fillPath(water(body, 0.76, 10, 1.0, 2.4), QColor(255, 255, 255, 200));
        painter.setClipping(false);
        // Three headlines.
        painter.setPen(QPen(Qt::white, 18, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(64, 68), QPointF(192, 68));
        painter.drawLine(QPointF(64, 108), QPointF(192, 108));
        painter.drawLine(QPointF(64, 148), QPointF(150, 148));
    });
}

// The three steps share one scene: a screen with the widget panel at its right edge.
QImage installingStep(int step)
{
    return drawn(QSize(280, 180), Qt::transparent, [step](QPainter& painter) {
        const QRectF screen(10, 10, 260, 160);
        painter.setPen(QPen(QColor(0x8a, 0x8a, 0x8a), 2));
        painter.setBrush(QColor(0x4a, 0x4f, 0x57));
        painter.drawRoundedRect(screen, 10, 10);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2b, 0x2e, 0x33));
        painter.drawRoundedRect(QRectF(20, 20, 80, 14), 4, 4); // a window title, for scale

        const QRectF panel(172, 18, 90, 144);
        painter.setBrush(step == 1 ? QColor(0xee, 0xee, 0xee, 120) : QColor(0xee, 0xee, 0xee));
        painter.drawRoundedRect(panel, 8, 8);
        if (step == 1) {
            // Open the panel: an arrow towards the screen's edge.
            painter.setPen(QPen(kLightWater, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawLine(QPointF(70, 90), QPointF(150, 90));
            painter.drawPolyline(
                QPolygonF({ QPointF(132, 74), QPointF(150, 90), QPointF(132, 106) }));
        } else if (step == 2) {
            // Press the panel's add button.
            painter.setBrush(kGreen);
            painter.drawEllipse(QPointF(217, 140), 14, 14);
            painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(209, 140), QPointF(225, 140));
            painter.drawLine(QPointF(217, 132), QPointF(217, 148));
            painter.setPen(QPen(kLightWater, 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(QPointF(217, 140), 20, 20);
        } else {
            // The stories in the panel.
            const QImage icon
                = appIcon().scaled(24, 24, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(QPointF(180, 26), icon);
            painter.setPen(QPen(QColor(0x55, 0x5b, 0x63), 5, Qt::SolidLine, Qt::RoundCap));
            for (int row = 0; row < 4; ++row) {
                const double y = 66 + row * 22;
                painter.drawLine(QPointF(182, y), QPointF(row % 2 ? 236 : 252, y));
            }
        }
    });
}

// --- Sounds ---------------------------------------------------------------------------------

constexpr int kRate = 44100;

bool writeWav(const QString& output, const std::vector<double>& samples)
{
    QByteArray pcm;
    pcm.reserve(qsizetype(samples.size() * 2));
    for (double s : samples) {
        const auto v = static_cast<std::int16_t>(std::lround(std::clamp(s, -1.0, 1.0) * 32000));
        pcm.append(char(v & 0xff));
        pcm.append(char((v >> 8) & 0xff));
    }
    const auto u32 = [](QByteArray& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
    };
    const auto u16 = [](QByteArray& b, std::uint16_t v) {
        b.append(char(v & 0xff));
        b.append(char((v >> 8) & 0xff));
    };
    QByteArray wav("RIFF");
    u32(wav, std::uint32_t(36 + pcm.size()));
    wav.append("WAVEfmt ");
    u32(wav, 16);
    u16(wav, 1); // PCM
    u16(wav, 1); // mono
    u32(wav, kRate);
    u32(wav, kRate * 2);
    u16(wav, 2);
    u16(wav, 16);
    wav.append("data");
    u32(wav, std::uint32_t(pcm.size()));
    wav.append(pcm);
    QFile file(output);
    return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

std::vector<double> silence(double seconds)
{
    return std::vector<double>(std::size_t(seconds * kRate), 0.0);
}

// A bell-like note: a sine with a soft octave, a quick attack and an exponential fall.
void addNote(std::vector<double>& out, double start, double length, double frequency, double gain)
{
    const auto first = std::size_t(start * kRate);
    for (std::size_t i = 0; i < std::size_t(length * kRate) && first + i < out.size(); ++i) {
        const double t = double(i) / kRate;
        const double envelope = std::min(1.0, t / 0.004) * std::exp(-t * 9.0);
        const double tone
            = std::sin(2 * M_PI * frequency * t) + 0.25 * std::sin(4 * M_PI * frequency * t);
        out[first + i] += gain * envelope * tone;
    }
}

bool addFeedSound(const QString&, const QString& output)
{
    auto samples = silence(0.4);
    addNote(samples, 0.0, 0.4, 659.25, 0.45); // E5
    addNote(samples, 0.11, 0.29, 987.77, 0.4); // B5
    return writeWav(output, samples);
}

bool removeFeedSound(const QString&, const QString& output)
{
    auto samples = silence(0.3);
    double phase = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate;
        const double frequency = 700.0 * std::pow(0.5, t / 0.3); // an octave down
        phase += 2 * M_PI * frequency / kRate;
        const double envelope = std::min(1.0, t / 0.005) * std::exp(-t * 8.0);
        samples[i] = 0.5 * envelope * std::sin(phase);
    }
    return writeWav(output, samples);
}

bool clickwaveSound(const QString&, const QString& output)
{
    auto samples = silence(0.22);
    std::uint32_t seed = 0x2545f491;
    double low = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate;
        seed = seed * 1664525u + 1013904223u;
        const double noise = double(seed >> 8) / double(1u << 24) * 2 - 1;
        // The whoosh: noise through a filter that opens and closes, rising and falling.
        const double opening = 0.02 + 0.25 * std::sin(M_PI * std::min(1.0, t / 0.22));
        low += opening * (noise - low);
        const double swell = std::sin(M_PI * std::min(1.0, t / 0.22));
        const double click = t < 0.006 ? std::sin(2 * M_PI * 1800 * t) * (1 - t / 0.006) : 0.0;
        samples[i] = 0.9 * low * swell + 0.5 * click;
    }
    return writeWav(output, samples);
}

const bool registered = [] {
    registerSequence(u"Wave_%05i.png"_s, waveFrame);
    registerSequence(u"Wave_small_%05i.png"_s, smallWaveFrame);
    registerImage(u"wave mask.png"_s, waveMask);
    registerImage(u"iconMask.png"_s, iconMask);
    registerImage(u"story-placeholder.png"_s, storyPlaceholder);
    registerImage(u"AppIcon.png"_s, appIcon);
    for (int step = 1; step <= 3; ++step)
        registerImage(
            u"Installing step %1.png"_s.arg(step), [step] { return installingStep(step); });
    registerResource(u"Add feed.wav"_s, addFeedSound);
    registerResource(u"Remove feed.wav"_s, removeFeedSound);
    registerResource(u"clickwave.wav"_s, clickwaveSound);
    return true;
}();

} // namespace

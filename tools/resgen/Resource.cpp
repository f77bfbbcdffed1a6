#include "Resource.h"

#include <QHash>
#include <QList>

#include <cmath>

#include <utility>

namespace {

struct Registry {
    QHash<QString, ResourceWriter> exact;
    QList<std::pair<QString, ResourceWriter>> families;
    QHash<QString, SequenceWriter> sequences;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

bool registerResource(const QString& fileName, ResourceWriter writer)
{
    registry().exact.insert(fileName, std::move(writer));
    return true;
}

bool registerResourceFamily(const QString& prefix, ResourceWriter writer)
{
    registry().families.append({ prefix, std::move(writer) });
    return true;
}

bool registerImage(const QString& fileName, std::function<QImage()> draw)
{
    return registerResource(
        fileName, [draw = std::move(draw)](const QString&, const QString& output) {
            const QImage image = draw();
            return !image.isNull() && image.save(output, "PNG");
        });
}

bool registerSequence(const QString& pattern, SequenceWriter writer)
{
    registry().sequences.insert(pattern, std::move(writer));
    return true;
}

QString sequenceFileName(const QString& pattern, int index)
{
    using namespace Qt::Literals::StringLiterals;
    QString name = pattern;
    if (name.contains(u"%05i"_s))
        return name.replace(u"%05i"_s, QString::number(index).rightJustified(5, u'0'));
    return name.replace(u"%i"_s, QString::number(index));
}

QPainterPath squirclePath(const QRectF& rect, double exponent)
{
    QPainterPath path;
    const double rx = rect.width() / 2, ry = rect.height() / 2;
    const QPointF c = rect.center();
    constexpr int steps = 720;
    for (int i = 0; i <= steps; ++i) {
        const double t = 2 * M_PI * i / steps;
        const double ct = std::cos(t), st = std::sin(t);
        const QPointF p(c.x() + rx * std::copysign(std::pow(std::fabs(ct), 2 / exponent), ct),
            c.y() + ry * std::copysign(std::pow(std::fabs(st), 2 / exponent), st));
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

// Used by main(): the writer of a sequence, or none.
const SequenceWriter* findSequenceWriter(const QString& pattern)
{
    const Registry& r = registry();
    const auto it = r.sequences.constFind(pattern);
    return it == r.sequences.cend() ? nullptr : &it.value();
}

// Used by main(): the writer for a file name, or none.
const ResourceWriter* findResourceWriter(const QString& fileName)
{
    const Registry& r = registry();
    if (auto it = r.exact.constFind(fileName); it != r.exact.cend())
        return &it.value();
    // The longest matching prefix wins, so "Wave_small_" is not taken for "Wave_".
    const ResourceWriter* best = nullptr;
    qsizetype bestLength = -1;
    for (const auto& [prefix, writer] : r.families) {
        if (fileName.startsWith(prefix) && prefix.size() > bestLength) {
            best = &writer;
            bestLength = prefix.size();
        }
    }
    return best;
}

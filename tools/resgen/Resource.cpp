#include "Resource.h"

#include <QHash>
#include <QList>

#include <cmath>
#include <utility>

namespace {

struct Registry {
    QHash<QString, ResourceWriter> exact;
    QList<std::pair<QString, ResourceWriter>> families;
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
    return registerResource(fileName, [draw = std::move(draw)](const QString&, const QString& output) {
        const QImage image = draw();
        return !image.isNull() && image.save(output, "PNG");
    });
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

QPainterPath squirclePath(double side, double exponent)
{
    const double r = side / 2.0;
    QPainterPath path;
    constexpr int steps = 720;
    for (int i = 0; i <= steps; ++i) {
        const double t = 2 * M_PI * i / steps;
        const double c = std::cos(t), s = std::sin(t);
        const double x = r + r * std::copysign(std::pow(std::fabs(c), 2 / exponent), c);
        const double y = r + r * std::copysign(std::pow(std::fabs(s), 2 / exponent), s);
        if (i == 0)
            path.moveTo(x, y);
        else
            path.lineTo(x, y);
    }
    path.closeSubpath();
    return path;
}

#include "Resource.h"

#include <QHash>
#include <QList>

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

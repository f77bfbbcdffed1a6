#include "platform/appkit/Namespace.h"
#include "ImageNamed.h"

#include <QFile>
#include <QHash>
#include <QMutex>

namespace Tickerly::AppKit {

using namespace Qt::Literals::StringLiterals;

namespace {

QString resourcePath(const QString& name) { return u":/images/"_s + name + u".png"_s; }

struct Kept {
    QMutex mutex;
    QHash<QString, QImage> pictures;
};

Kept& kept()
{
    static Kept instance;
    return instance;
}

} // namespace

QImage imageNamed(const QString& name)
{
    Kept& cache = kept();
    QMutexLocker locker(&cache.mutex);
    if (auto it = cache.pictures.constFind(name); it != cache.pictures.cend())
        return it.value();
    QImage image(resourcePath(name));
    cache.pictures.insert(name, image);
    return image;
}

QImage imageNamedUncached(const QString& name)
{
    {
        Kept& cache = kept();
        QMutexLocker locker(&cache.mutex);
        if (auto it = cache.pictures.constFind(name); it != cache.pictures.cend())
            return it.value();
    }
    // Decoded outside the lock: nothing is stored, so two readers may both decode.
    return QImage(resourcePath(name));
}

bool hasImageNamed(const QString& name) { return QFile::exists(resourcePath(name)); }

QStringList keptImageNames()
{
    Kept& cache = kept();
    QMutexLocker locker(&cache.mutex);
    return cache.pictures.keys();
}

} // namespace Tickerly::AppKit

#include "ImageNamed.h"

#include <QFile>
#include <QHash>
#include <QMutex>

using namespace Qt::Literals::StringLiterals;

namespace {

QString resourcePath(const QString& name) { return u":/images/"_s + name + u".png"_s; }

} // namespace

QImage imageNamed(const QString& name)
{
    static QMutex mutex;
    static QHash<QString, QImage> cache;
    QMutexLocker locker(&mutex);
    if (auto it = cache.constFind(name); it != cache.cend())
        return it.value();
    QImage image(resourcePath(name));
    cache.insert(name, image);
    return image;
}

bool hasImageNamed(const QString& name) { return QFile::exists(resourcePath(name)); }

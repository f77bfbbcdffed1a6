#include "ImageNamed.h"

#include <QHash>
#include <QMutex>

using namespace Qt::Literals::StringLiterals;

QImage imageNamed(const QString& name)
{
    static QMutex mutex;
    static QHash<QString, QImage> cache;
    QMutexLocker locker(&mutex);
    if (auto it = cache.constFind(name); it != cache.cend())
        return it.value();
    QImage image(u":/images/"_s + name + u".png"_s);
    cache.insert(name, image);
    return image;
}

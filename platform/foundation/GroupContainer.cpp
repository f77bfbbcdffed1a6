#include "platform/foundation/GroupContainer.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<QString> dataHome()
{
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        return std::nullopt;
    return QDir::cleanPath(home + u"/.local/share"_s);
}

} // namespace

namespace GroupContainer {

std::optional<QString> path(const QString& identifier)
{
    if (identifier.isEmpty() || identifier == u"."_s || identifier == u".."_s
        || identifier.contains(u'/') || identifier.contains(QChar(0)))
        return std::nullopt;
    const auto home = dataHome();
    if (!home)
        return std::nullopt;
    const QString dir = *home + u"/group-containers/"_s + identifier;
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir())
        return std::nullopt;
    return dir;
}

} // namespace GroupContainer

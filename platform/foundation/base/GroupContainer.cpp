#include "platform/foundation/base/GroupContainer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// Clears the group's and others' bits of what `path` names; false when nothing is there.
bool clearSharedBits(const QByteArray& path, struct stat& st)
{
    if (::stat(path.constData(), &st) != 0)
        return false;
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        ::chmod(path.constData(), st.st_mode & ~(S_IRWXG | S_IRWXO) & 07777);
    return true;
}

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

bool makePrivateFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat st { };
    if (!clearSharedBits(name, st)) {
        QDir().mkpath(QFileInfo(folder).path());
        ::mkdir(name.constData(), S_IRWXU);
        if (!clearSharedBits(name, st))
            return false;
    }
    return S_ISDIR(st.st_mode);
}

void makeFoldersInsidePrivate(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    // Symbolic links are left alone.
    const int dirFd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (!dir) {
        if (dirFd >= 0)
            ::close(dirFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
            continue;
        if (qstrcmp(entry->d_name, ".") == 0 || qstrcmp(entry->d_name, "..") == 0)
            continue;
        struct stat inner { };
        if (::fstatat(dirFd, entry->d_name, &inner, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(inner.st_mode) && (inner.st_mode & (S_IRWXG | S_IRWXO)))
            ::fchmodat(dirFd, entry->d_name, inner.st_mode & ~(S_IRWXG | S_IRWXO) & 07777, 0);
    }
    ::closedir(dir);
}

void makePrivateFile(const QString& file)
{
    struct stat st { };
    clearSharedBits(QFile::encodeName(file), st);
}

} // namespace GroupContainer

} // namespace Tickerly::Foundation

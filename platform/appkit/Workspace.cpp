#include "Workspace.h"

#include <QDesktopServices>

namespace {

Workspace::Opener& installedOpener()
{
    static Workspace::Opener opener;
    return opener;
}

} // namespace

bool Workspace::openURL(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty())
        return false;
    if (const Opener& opener = installedOpener())
        return opener(url);
    return QDesktopServices::openUrl(url);
}

Workspace::Opener Workspace::setOpener(Opener opener)
{
    return std::exchange(installedOpener(), std::move(opener));
}

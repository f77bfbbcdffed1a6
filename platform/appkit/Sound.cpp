#include "platform/appkit/Namespace.h"
#include "Sound.h"

#include <QCoreApplication>
#include <QFile>
#include <QAudioDevice>
#include <QHash>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <utility>

namespace Tickerly::AppKit {

using namespace Qt::Literals::StringLiterals;

namespace {

SoundPlayer& installedPlayer()
{
    static SoundPlayer player;
    return player;
}

} // namespace

SoundPlayer setSoundPlayer(SoundPlayer player)
{
    return std::exchange(installedPlayer(), std::move(player));
}

bool playSound(const QString& name)
{
    const QString path = u":/sounds/"_s + name;
    if (name.isEmpty() || !QFile::exists(path))
        return false;
    if (installedPlayer()) {
        installedPlayer()(name);
        return true;
    }
    // Without an audio device there is nothing to play on.
    if (QMediaDevices::defaultAudioOutput().isNull())
        return true;
    // An effect must outlive its playback; each sound keeps one for the life of the program.
    static QHash<QString, QSoundEffect*> effects;
    QSoundEffect*& effect = effects[name];
    if (!effect) {
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl(u"qrc"_s + path));
    }
    effect->play();
    return true;
}

} // namespace Tickerly::AppKit

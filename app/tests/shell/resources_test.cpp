#include "data/sync/Localization.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/appkit/Sound.h"
#include "platform/foundation/base/Bundle.h"
#include "testsupport/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

TEST(ApplicationResources, EveryNamedPictureIsThere)
{
    for (const QString& family : { u"Wave_%1"_s, u"Wave_small_%1"_s }) {
        for (int i = 0; i < 128; ++i) {
            const QString name = family.arg(i, 5, 10, QChar(u'0'));
            ASSERT_FALSE(imageNamed(name).isNull()) << name.toStdString();
        }
    }
    EXPECT_TRUE(imageNamed(u"Wave_00128"_s).isNull());
    EXPECT_EQ(imageNamed(u"Wave_00000"_s).size(), QSize(300, 300));
    EXPECT_EQ(imageNamed(u"Wave_small_00000"_s).size(), QSize(100, 100));
    // The spinner's frames lie on a clear ground; the welcome wave is seen through its mask.
    EXPECT_EQ(qAlpha(imageNamed(u"Wave_small_00064"_s).pixel(0, 0)), 0);
    const QImage waveMask = imageNamed(u"wave mask"_s);
    EXPECT_EQ(waveMask.size(), QSize(300, 300));
    EXPECT_EQ(qAlpha(waveMask.pixel(150, 150)), 255);
    EXPECT_EQ(qAlpha(waveMask.pixel(2, 2)), 0);
    const QImage iconMask = imageNamed(u"iconMask"_s);
    EXPECT_EQ(qAlpha(iconMask.pixel(64, 64)), 0); // the icon shows through
    EXPECT_EQ(qAlpha(iconMask.pixel(0, 0)), 255); // the corners cover it

    for (const QString& name : { u"story-placeholder"_s, u"AppIcon"_s, u"Installing step 1"_s,
             u"Installing step 2"_s, u"Installing step 3"_s })
        EXPECT_FALSE(imageNamed(name).isNull()) << name.toStdString();
}

TEST(ApplicationResources, TheSoundsArePlayableShortPcm)
{
    for (const QString& name : { u"Add feed.wav"_s, u"Remove feed.wav"_s, u"clickwave.wav"_s }) {
        SCOPED_TRACE(name.toStdString());
        QFile file(u":/sounds/"_s + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        ASSERT_GE(wav.size(), 44);
        EXPECT_EQ(wav.left(4), "RIFF");
        EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
        EXPECT_EQ(u16(20), 1); // PCM
        EXPECT_EQ(u16(34), 16);
        EXPECT_EQ(u32(24), 44100u);
        EXPECT_EQ(u32(40), quint32(wav.size() - 44));
        const double seconds = double(u32(40)) / (u32(24) * u16(32));
        EXPECT_GT(seconds, 0.05);
        EXPECT_LE(seconds, 0.5);
    }

    QStringList played;
    const SoundPlayer speakers = setSoundPlayer([&](const QString& name) { played << name; });
    EXPECT_TRUE(playSound(u"Add feed.wav"_s));
    setSoundPlayer(speakers);
    EXPECT_EQ(played, QStringList { u"Add feed.wav"_s });
    // Through the speakers, or silently where there are none: it returns at once either way.
    EXPECT_TRUE(playSound(u"clickwave.wav"_s));
}

TEST(ApplicationResources, EveryInterfaceTextIsInTheLocalisationTable)
{
    const auto info = Bundle::mainBundle().infoDictionary();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(u"Localization file"_s).toString(), u"Interface"_s);
    const QString keys[] = {
        u"Search placeholder"_s,
        u"Add feed error"_s,
        u"Save change error"_s,
        u"Save stories error"_s,
        u"Remove button"_s,
        u"No feeds title"_s,
        u"No feeds text"_s,
        u"Installing title"_s,
        u"Installing done"_s,
        u"Preferences title"_s,
        u"Stories title"_s,
        u"Open in Readability setting"_s,
        u"Hide after open setting"_s,
        u"Show images"_s,
        u"Show buttons"_s,
        u"Show buttons explanation"_s,
        u"Stories shown title"_s,
        u"Feedback title"_s,
        u"Send feedback button"_s,
        u"Rate button"_s,
        u"Rate message"_s,
        u"About us title"_s,
        u"Velmora website button"_s,
        u"Tickerly website button"_s,
        u"Privacy button"_s,
        u"Tickerly iOS button"_s,
        u"No news"_s,
        u"Show more"_s,
        u"Show less"_s,
        u"Copy link"_s,
    };
    QFile file(u":/bundle/en/Interface.json"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject table = QJsonDocument::fromJson(file.readAll()).object();
    for (const QString& key : keys)
        EXPECT_FALSE(table.value(key).toString().isEmpty()) << key.toStdString();
    EXPECT_EQ(~u"Remove button"_s, u"Remove"_s); // the table the information names
    // The setting takes the opened story out of the list; the panel stays.
    EXPECT_EQ(~u"Hide after open setting"_s, u"Hide a story once it is opened"_s);
}

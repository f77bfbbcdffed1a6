#include "data/model/Shared.h"
#include "data/model/StoryStateData.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

TEST(SharedDefaults, EveryCallIsANewObjectOverTheOneSuiteOfBothPrograms)
{
    auto a = sharedDefaults();
    auto b = sharedDefaults();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->suiteName(), u"K4WQ7ZP2MV.shared"_s);
    (void)a->set(u"velmora.test"_s, 41);
    a->synchronize();
    EXPECT_EQ(b->integer(u"velmora.test"_s), 41);

    QProcess other;
    other.start(TestSupport::helperPath(u"store_helper"_s),
        { u"increment"_s, u"K4WQ7ZP2MV.shared"_s, u"velmora.test"_s, u"1"_s });
    ASSERT_TRUE(other.waitForFinished(30000));
    EXPECT_EQ(other.exitCode(), 0);
    EXPECT_EQ(sharedDefaults()->integer(u"velmora.test"_s), 42);
}

TEST(SharedDefaults, TheContainerLiesInTheDataHomeAndIsNeverCreatedHere)
{
    const auto container = getDataContainer();
    ASSERT_TRUE(container);
    EXPECT_EQ(*container,
        QDir(TestSupport::dataHome()).filePath(u"group-containers/K4WQ7ZP2MV.shared"_s));
    EXPECT_FALSE(QFileInfo::exists(*container));

    // No usable data home: no container, and nothing stops.
    qputenv("XDG_DATA_HOME", "relative/path");
    qputenv("HOME", "");
    EXPECT_FALSE(getDataContainer());
    EXPECT_FALSE(sharedDefaults()->isPersistent());
    EXPECT_EQ(sharedDefaults()->set(u"k"_s, 1), UserDefaults::Outcome::Done);
}

TEST(SharedDefaults, ImagesBecomePngBytesThatDecodeAgain)
{
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(qRgba(200, 10, 10, 255));
    const QByteArray png = data(image);
    EXPECT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
    const QImage back = QImage::fromData(png);
    EXPECT_EQ(back.size(), QSize(96, 96));
    EXPECT_EQ(back.pixel(50, 50), qRgba(200, 10, 10, 255));
    EXPECT_TRUE(data(QImage()).isEmpty());
}

namespace {
struct Logged {
    QString category;
    QtMsgType type;
    QString message;
};
QList<Logged> logged;

void keepLogged(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    logged.append({ QString::fromUtf8(context.category), type, message });
}

QStringList loggedIn(const QString& category)
{
    QStringList messages;
    for (const Logged& entry : logged) {
        if (entry.category == category && entry.type == QtDebugMsg)
            messages.append(entry.message);
    }
    return messages;
}
} // namespace

// Off by default; once enabled, a debug build writes the libraries' traces, a damaged stored
// list's among them, to their own category. A release build writes nothing either way.
TEST(DebugPrint, WritesToItsOwnCategoryOnlyOnceEnabledInDebugBuilds)
{
    const QString category = u"tickerly.debug"_s;
    EXPECT_EQ(QString::fromUtf8(lcDebugPrint().categoryName()), category);
    (void)sharedDefaults()->set(
        u"velmora.Tickerly.statedStoriesKey"_s, QByteArray("not an archive"));
    StoryStateData states;
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLogged);

    EXPECT_FALSE(lcDebugPrint().isDebugEnabled());
    debugprint(u"first step"_s);
    EXPECT_EQ(states.stateForLink(u"http://a/"_s), StoryState::None);
    const QStringList whileOff = loggedIn(category);

    QLoggingCategory::setFilterRules(u"tickerly.debug.debug=true"_s);
    debugprint(u"second step"_s);
    struct Opaque { };
    debugprint(Opaque {});
    states.flushCache();
    EXPECT_EQ(states.stateForLink(u"http://a/"_s), StoryState::None);
    const QStringList whileOn = loggedIn(category);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);

    EXPECT_EQ(whileOff, QStringList());
#ifdef NDEBUG
    EXPECT_EQ(whileOn, QStringList());
#else
    ASSERT_EQ(whileOn.size(), 2);
    EXPECT_EQ(whileOn[0], u"second step"_s);
    EXPECT_TRUE(whileOn[1].contains(u"a stored list of state record is damaged"_s))
        << whileOn[1].toStdString();
#endif
}

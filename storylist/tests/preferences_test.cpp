#include "storylist/Preferences.h"

#include "data/model/Shared.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

QVariant stored(const char16_t* key) { return sharedDefaults()->value(QString::fromUtf16(key)); }

// Every write is announced on the bus: no announcement may reach a later test.
class PreferencesTest : public ::testing::Test {
protected:
    void TearDown() override { StoryListTest::drainPostedNotifications(); }
};

} // namespace

TEST_F(PreferencesTest, ReadTheDefaultsUntilANumberIsStoredUnderTheirKeys)
{
    Preferences preferences;
    auto settings = [&] {
        return QVariantList { preferences.readabilityOnOpen(), preferences.hideOnOpen(),
            preferences.numberOfStories(), preferences.widgetExpanded(), preferences.widgetImages(),
            preferences.widgetButtons() };
    };
    const QVariantList defaults { false, false, 5, false, true, true };
    EXPECT_EQ(settings(), defaults);

    // Text, data and the like count as nothing stored.
    auto suite = sharedDefaults();
    for (const char16_t* key :
        { readabilityOnOpenKey, hideOnOpenKey, numberOfStoriesKey, widgetExpandedKey })
        (void)suite->set(QString::fromUtf16(key), u"1"_s);
    (void)suite->set(QString::fromUtf16(widgetImagesKey), QByteArray("\0", 1));
    (void)suite->set(QString::fromUtf16(widgetButtonsKey), u"no"_s);
    EXPECT_EQ(settings(), defaults);

    (void)preferences.setReadabilityOnOpen(true);
    (void)preferences.setHideOnOpen(true);
    (void)preferences.setNumberOfStories(12);
    (void)preferences.setWidgetExpanded(true);
    (void)preferences.setWidgetImages(false);
    (void)preferences.setWidgetButtons(false);
    EXPECT_EQ(settings(), (QVariantList { true, true, 12, true, false, false }));
    EXPECT_EQ(stored(widgetImagesKey), QVariant(false));

    // Any number that is not zero is true.
    (void)suite->set(QString::fromUtf16(widgetImagesKey), 2);
    EXPECT_TRUE(preferences.widgetImages());
}

TEST_F(PreferencesTest, TheNumberOfStoriesNeverReadsZeroAndKeepsOtherNumbersAsStored)
{
    Preferences preferences;
    (void)preferences.setNumberOfStories(0);
    EXPECT_EQ(stored(numberOfStoriesKey).toLongLong(), 5);
    (void)sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), 0);
    EXPECT_EQ(preferences.numberOfStories(), 5);

    (void)preferences.setNumberOfStories(-3);
    EXPECT_EQ(preferences.numberOfStories(), -3);
    (void)sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), 7.9);
    EXPECT_EQ(preferences.numberOfStories(), 7);
}

TEST_F(PreferencesTest, EveryWriteIsAnnouncedOnceEvenWhenTheValueStaysTheSame)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        GTEST_SKIP() << "no session bus";
    int heard = 0;
    auto updates = center.addObserver(
        u"TickerlyDataUpdated"_s, u"Tickerly"_s, [&](const QString&, const QString&) { ++heard; });
    // The bus may take a moment to route this process's notifications back to it; a marker
    // that came back shows it does.
    StoryListTest::drainPostedNotifications();

    Preferences preferences;
    (void)preferences.setHideOnOpen(false);
    (void)preferences.setHideOnOpen(false);
    (void)preferences.setNumberOfStories(0);
    StoryListTest::drainPostedNotifications();
    EXPECT_EQ(heard, 3);
    EXPECT_EQ(stored(hideOnOpenKey), QVariant(false));
}

// The other program reads a setting when it hears of it: a write kept while the store is held is
// announced once it is written, not before; one the store refuses is never announced.
TEST_F(PreferencesTest, AKeptWriteIsAnnouncedOnceWrittenAndNotBefore)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        GTEST_SKIP() << "no session bus";
    StoreTest::WaitLimit limit(150);
    QList<QVariant> seen;
    auto updates = center.addObserver(u"TickerlyDataUpdated"_s, u"Tickerly"_s,
        [&](const QString&, const QString&) { seen.append(stored(hideOnOpenKey)); });
    StoryListTest::drainPostedNotifications();
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);

    EXPECT_EQ(Preferences().setHideOnOpen(true), UserDefaults::Outcome::Kept);
    StoryListTest::drainPostedNotifications();
    EXPECT_TRUE(seen.isEmpty()) << "announced before it was written";

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !seen.isEmpty(); }, 10000));
    StoryListTest::drainPostedNotifications();
    EXPECT_EQ(seen, QList<QVariant> { QVariant(true) }) << "heard once, with the new value there";
}

// A setting kept while another program held the store, by a program then killed: the next opening
// writes it, and the other program hears of it then.
TEST_F(PreferencesTest, ASettingKeptByAKilledProgramIsWrittenAndAnnouncedAtTheNextOpening)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    int heard = 0;
    auto updates = center.addObserver(
        u"TickerlyDataUpdated"_s, u"Tickerly"_s, [&](const QString&, const QString&) { ++heard; });
    StoryListTest::drainPostedNotifications();
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(TestSupport::helperPath(u"storylist_helper"_s), { u"keep-setting-then-wait"_s });
    ASSERT_EQ(StoreTest::readLine(program), u"kept"_s);
    program.kill();
    ASSERT_TRUE(program.waitForFinished(60000));
    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));

    EXPECT_FALSE(Preferences().hideOnOpen());
    EXPECT_TRUE(sharedDefaults()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_TRUE(Preferences().hideOnOpen());
    if (center.isAvailable()) {
        EXPECT_TRUE(TestSupport::waitFor([&] { return heard == 1; }, 10000));
    }
}

// Only the six settings are written from a journal: an entry naming any other key, as a damaged
// journal may, is passed over, and the settings beside it are written all the same.
TEST_F(PreferencesTest, AJournalledWriteOfAKeyThatIsNoSettingIsNotWrittenAtTheNextOpening)
{
    const QString other = u"velmora.Tickerly.NotASetting"_s;
    auto holder
        = StoreTest::startHelper({ u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(
        TestSupport::helperPath(u"storylist_helper"_s), { u"keep-other-key-then-wait"_s });
    ASSERT_EQ(StoreTest::readLine(program), u"kept"_s);
    program.kill();
    ASSERT_TRUE(program.waitForFinished(60000));
    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));

    EXPECT_TRUE(sharedDefaults()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_TRUE(Preferences().hideOnOpen());
    EXPECT_FALSE(sharedDefaults()->value(other).isValid());
}

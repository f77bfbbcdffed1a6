#include "storylist/Preferences.h"

#include "data/model/Shared.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QVariant stored(const char16_t* key)
{
    return sharedDefaults()->value(QString::fromUtf16(key));
}

} // namespace

TEST(Preferences, AFreshSuiteReadsTheDefaultsAndWritesReadBack)
{
    Preferences preferences;
    EXPECT_FALSE(preferences.readabilityOnOpen());
    EXPECT_FALSE(preferences.hideOnOpen());
    EXPECT_EQ(preferences.numberOfStories(), 5);
    EXPECT_FALSE(preferences.widgetExpanded());
    EXPECT_TRUE(preferences.widgetImages());
    EXPECT_TRUE(preferences.widgetButtons());

    preferences.setReadabilityOnOpen(true);
    preferences.setHideOnOpen(true);
    preferences.setNumberOfStories(12);
    preferences.setWidgetExpanded(true);
    preferences.setWidgetImages(false);
    preferences.setWidgetButtons(false);

    // Nothing is kept in the object: a new one over the same suite sees every value.
    Preferences other;
    EXPECT_TRUE(other.readabilityOnOpen());
    EXPECT_TRUE(other.hideOnOpen());
    EXPECT_EQ(other.numberOfStories(), 12);
    EXPECT_TRUE(other.widgetExpanded());
    EXPECT_FALSE(other.widgetImages());
    EXPECT_FALSE(other.widgetButtons());
    EXPECT_EQ(stored(widgetImagesKey), QVariant(false));
    EXPECT_EQ(stored(numberOfStoriesKey).toLongLong(), 12);
}

TEST(Preferences, TheNumberOfStoriesNeverReadsZeroAndKeepsOtherNumbersAsStored)
{
    Preferences preferences;
    preferences.setNumberOfStories(0);
    EXPECT_EQ(stored(numberOfStoriesKey).toLongLong(), 5);

    sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), 0);
    EXPECT_EQ(preferences.numberOfStories(), 5);

    preferences.setNumberOfStories(-3);
    EXPECT_EQ(preferences.numberOfStories(), -3);
    EXPECT_EQ(stored(numberOfStoriesKey).toLongLong(), -3);

    sharedDefaults()->set(QString::fromUtf16(numberOfStoriesKey), 7.9);
    EXPECT_EQ(preferences.numberOfStories(), 7);
}

TEST(Preferences, ValuesOfAnotherKindReadAsTheDefaults)
{
    auto defaults = sharedDefaults();
    defaults->set(QString::fromUtf16(readabilityOnOpenKey), u"true"_s);
    defaults->set(QString::fromUtf16(widgetImagesKey), u"no"_s);
    defaults->set(QString::fromUtf16(widgetButtonsKey), QByteArray("\0", 1));
    defaults->set(QString::fromUtf16(numberOfStoriesKey), u"8"_s);
    defaults->set(QString::fromUtf16(hideOnOpenKey), 2);

    Preferences preferences;
    EXPECT_FALSE(preferences.readabilityOnOpen());
    EXPECT_TRUE(preferences.widgetImages());
    EXPECT_TRUE(preferences.widgetButtons());
    EXPECT_EQ(preferences.numberOfStories(), 5);
    // Any number that is not zero is true.
    EXPECT_TRUE(preferences.hideOnOpen());
}

TEST(Preferences, EveryWriteIsAnnouncedOnceEvenWhenTheValueStaysTheSame)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        GTEST_SKIP() << "no session bus";
    int heard = 0, done = 0;
    auto updates = center.addObserver(u"TickerlyDataUpdated"_s, u"Tickerly"_s,
        [&](const QString&, const QString&) { ++heard; });
    auto marker = center.addObserver(u"PreferencesTestDone"_s, QString(),
        [&](const QString&, const QString&) { ++done; });

    Preferences preferences;
    preferences.setHideOnOpen(false);
    preferences.setHideOnOpen(false);
    preferences.setNumberOfStories(0);
    // Posts from one sender keep their order: once the marker is in, every update is too.
    center.postNotificationName(u"PreferencesTestDone"_s);
    ASSERT_TRUE(testsupport::waitFor([&] { return done == 1; }));
    EXPECT_EQ(heard, 3);
    EXPECT_EQ(stored(hideOnOpenKey), QVariant(false));
}

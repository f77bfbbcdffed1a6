#include "platform/foundation/base/Bundle.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

Bundle testBundle()
{
    return Bundle(TestSupport::sourcePath(u"platform/foundation/base/tests/data/bundle"_s));
}

} // namespace

TEST(Bundle, ReadsItsInformationDictionary)
{
    const auto info = testBundle().infoDictionary();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(u"Localization file"_s).toString(), u"Strings"_s);
    EXPECT_EQ(info->value(u"Version"_s).toInt(), 3);
    EXPECT_FALSE(Bundle(u":/no-such-bundle"_s).infoDictionary());
}

TEST(Bundle, FindsResourcesByNameAndType)
{
    EXPECT_FALSE(testBundle().pathForResource(u"Info"_s, u"json"_s).isEmpty());
    EXPECT_FALSE(testBundle().pathForResource(u"Info.json"_s).isEmpty());
    EXPECT_TRUE(testBundle().pathForResource(u"Missing"_s, u"png"_s).isEmpty());
}

TEST(Bundle, FallsBackToTheValueAndThenToTheKey)
{
    const Bundle bundle = testBundle();
    EXPECT_EQ(bundle.localizedString(u"Hello"_s, QString(), u"Strings"_s), u"Hej"_s);
    EXPECT_EQ(bundle.localizedString(u"Bye"_s, u"Farvel"_s, u"Strings"_s), u"Farvel"_s);
    EXPECT_EQ(bundle.localizedString(u"Bye"_s, QString(), u"Strings"_s), u"Bye"_s);
    // An entry that is no text, a broken table and a missing one count as no entry.
    EXPECT_EQ(bundle.localizedString(u"Number"_s, QString(), u"Strings"_s), u"Number"_s);
    EXPECT_EQ(bundle.localizedString(u"Hello"_s, QString(), u"Broken"_s), u"Hello"_s);
    EXPECT_EQ(bundle.localizedString(u"Hello"_s, QString(), QString()), u"Hello"_s);
}

TEST(Bundle, PrefersTheUsersLanguagesAndEndsWithEnglish)
{
    const QStringList languages = Bundle::preferredLanguages();
    ASSERT_FALSE(languages.isEmpty());
    EXPECT_EQ(languages.last(), u"en"_s);
    EXPECT_EQ(languages.count(u"en"_s), 1);
}

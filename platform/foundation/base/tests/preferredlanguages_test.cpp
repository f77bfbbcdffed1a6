#include "platform/foundation/base/PreferredLanguages.h"
#include "testsupport/LocaleEnvironment.h"

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

using TestSupport::LocaleEnvironment;

TEST(PreferredLanguages, FollowsTheLocaleVariablesInTheirOrderOnEveryCall)
{
    {
        LocaleEnvironment env({ { "LANGUAGE", "pt_BR:en" }, { "LANG", "de_DE.UTF-8" } });
        EXPECT_EQ(preferredLanguages(), (QStringList { u"pt-BR"_s, u"en"_s, u"de-DE"_s }));
        qputenv("LANGUAGE", "");
        EXPECT_EQ(preferredLanguages(), QStringList { u"de-DE"_s });
    }
    {
        LocaleEnvironment env({ { "LC_ALL", "fr_CA.ISO-8859-1@euro" }, { "LC_MESSAGES", "fr_CA" },
            { "LANG", "zh_Hans" } });
        EXPECT_EQ(preferredLanguages(), (QStringList { u"fr-CA"_s, u"zh-Hans"_s }));
    }
}

TEST(PreferredLanguages, TheCLocaleNamesNoLanguage)
{
    {
        LocaleEnvironment env(
            { { "LANG", "C.UTF-8" }, { "LC_ALL", "POSIX" }, { "LANGUAGE", "::" } });
        EXPECT_TRUE(preferredLanguages().isEmpty());
    }
    LocaleEnvironment none({});
    EXPECT_TRUE(preferredLanguages().isEmpty());
}

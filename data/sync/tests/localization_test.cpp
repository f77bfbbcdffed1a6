#include "data/sync/Localization.h"
#include "platform/foundation/base/Bundle.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Data;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// Makes the given test bundle the main one for the duration of a test.
class MainBundle {
public:
    explicit MainBundle(const QString& root)
        : m_previous(Bundle::mainBundle())
    {
        Bundle::setMainBundle(Bundle(root));
    }
    ~MainBundle() { Bundle::setMainBundle(m_previous); }

private:
    Bundle m_previous;
};

} // namespace

TEST(Localization, LooksKeysUpInTheTableTheBundleNames)
{
    MainBundle bundle(u":/named"_s);
    EXPECT_EQ(~u"Add feed"_s, u"Tilføj kilde"_s);
    EXPECT_EQ(~u"Remove"_s, u"Fjern"_s);
}

TEST(Localization, GivesTheKeyItselfWhenTheTableLacksIt)
{
    MainBundle bundle(u":/named"_s);
    EXPECT_EQ(~u"Not in any table"_s, u"Not in any table"_s);
    EXPECT_EQ(~QString(), QString());
}

TEST(Localization, UsesTheDefaultTableWithoutATableName)
{
    {
        MainBundle bundle(u":/nameless"_s); // no information dictionary at all
        EXPECT_EQ(~u"Add feed"_s, u"Add a source"_s);
    }
    {
        MainBundle bundle(u":/unnamed"_s); // "Localization file" is no text
        EXPECT_EQ(~u"Add feed"_s, u"Add a feed"_s);
    }
    {
        MainBundle bundle(u":/no-such-bundle"_s);
        EXPECT_EQ(~u"Add feed"_s, u"Add feed"_s);
    }
}

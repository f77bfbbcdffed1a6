#include "data/model/Shared.h"
#include "data/model/SourceNames.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {
const QString namesKey = u"velmora.Tickerly.SourceNames"_s;
} // namespace

TEST(SourceNames, LooksUpExactlyTheLinkAsTheServerSentIt)
{
    SourceNames names;
    EXPECT_TRUE(names.names().isEmpty());
    EXPECT_FALSE(names.nameForLink(u"http://example.com/feed"_s));

    (void)names.setNames({ { u"http://example.com/feed"_s, u"Example News"_s },
        { u"http://b.org/rss"_s, QString() } });
    EXPECT_EQ(SourceNames().nameForLink(u"http://example.com/feed"_s), u"Example News"_s);
    EXPECT_EQ(SourceNames().nameForLink(u"http://b.org/rss"_s), QString());
    EXPECT_FALSE(names.nameForLink(u"http://example.com/feed/"_s));
    EXPECT_FALSE(names.nameForLink(u"http://EXAMPLE.com/feed"_s));
    EXPECT_FALSE(names.nameForLink(u"https://example.com/feed"_s));

    // Stored as a plain dictionary of text, not as an archive.
    EXPECT_EQ(sharedDefaults()->dictionary(namesKey),
        (QVariantMap { { u"http://example.com/feed"_s, u"Example News"_s },
            { u"http://b.org/rss"_s, QString() } }));

    // A new table replaces the old one whole.
    (void)names.setNames({ { u"http://c.net/"_s, u"C"_s } });
    EXPECT_EQ(names.names(), (SourceNames::NameTable { { u"http://c.net/"_s, u"C"_s } }));
    (void)names.modifyNames(
        [](SourceNames::NameTable& table) { table.insert(u"http://d.net/"_s, u"D"_s); });
    EXPECT_EQ(names.names().keys(), (QStringList { u"http://c.net/"_s, u"http://d.net/"_s }));

    (void)names.setNames({});
    EXPECT_EQ(sharedDefaults()->dictionary(namesKey), QVariantMap());
    EXPECT_TRUE(names.names().isEmpty());
}

TEST(SourceNames, AnyValueThatIsNoTextSpoilsTheWholeTableUntilTheNextWrite)
{
    auto store = sharedDefaults();
    SourceNames names;
    (void)store->set(namesKey, QVariantMap { { u"http://a/"_s, u"A"_s }, { u"http://b/"_s, 7 } });
    EXPECT_TRUE(names.names().isEmpty());
    EXPECT_FALSE(names.nameForLink(u"http://a/"_s));

    for (const QVariant& unusable :
        { QVariant(u"text"_s), QVariant(QVariantMap { { u"http://a/"_s, QVariantMap() } }) }) {
        (void)store->set(namesKey, unusable);
        EXPECT_TRUE(names.names().isEmpty());
    }

    (void)names.modifyNames(
        [](SourceNames::NameTable& table) { table.insert(u"http://a/"_s, u"A"_s); });
    EXPECT_EQ(names.nameForLink(u"http://a/"_s), u"A"_s);
}

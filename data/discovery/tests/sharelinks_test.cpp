#include "data/discovery/ShareLinks.h"
#include "data/model/NewsStory.h"
#include "data/model/tests/StoryTestSupport.h"
#include "platform/foundation/base/Bundle.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

// The query read back as a service would: split at "&" and the first "=", then decoded.
QMap<QString, QString> queryItems(const Url& url)
{
    QMap<QString, QString> items;
    const QStringList pairs = url.query().split(u'&', Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const qsizetype equals = pair.indexOf(u'=');
        EXPECT_GE(equals, 0) << pair.toStdString();
        const QString name = Url::percentDecoded(pair.left(equals));
        EXPECT_FALSE(items.contains(name)) << "repeated " << name.toStdString();
        items.insert(name, Url::percentDecoded(pair.mid(equals + 1)));
    }
    EXPECT_EQ(items.size(), pairs.size());
    return items;
}

std::shared_ptr<NewsStory> story(const std::optional<QString>& headline,
    const std::optional<QString>& body, const QString& link, const QString& imageLink = {})
{
    auto made = std::make_shared<NewsStory>(headline, body,
        link.isEmpty() ? std::nullopt : Url::fromString(link), std::optional<QDateTime>(),
        StoryTest::source());
    if (!imageLink.isEmpty())
        made->setImageLink(Url::fromString(imageLink));
    return made;
}

// A stored story whose archive has neither headline nor body.
std::shared_ptr<NewsStory> storyWithoutTexts(const QString& link)
{
    StoryTest::ArchivedStoryFixture archived;
    archived.link = link;
    archived.sourceObject = StoryTest::source();
    NewsStory::registerArchiveClasses();
    return KeyedUnarchiver::unarchiveObjectWithData<NewsStory>(
        KeyedArchiver::archivedDataWithRootObject(archived));
}

const ShareLinkSettings kDefaults;

// The maker's identifier at the social network, which the deployment supplies.
class ShareLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ShareLinkSettings settings = kDefaults;
        settings.facebookAppId = u"123456789012345"_s;
        ShareLinkSettings::setCurrent(settings);
    }
    void TearDown() override { ShareLinkSettings::setCurrent(kDefaults); }
};

} // namespace

TEST(ShareLinkSettings, TakeTheFacebookIdentifierFromTheInformationOnlyAndShareNothingWithout)
{
    const Bundle previous = Bundle::mainBundle();
    const QString root = QDir(TestSupport::dataHome()).filePath(u"bundle-share"_s);
    QDir().mkpath(root);
    QFile info(root + u"/Info.json"_s);
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(R"({ "Facebook application identifier": "987654321098765" })");
    info.close();
    Bundle::setMainBundle(Bundle(root));
    EXPECT_EQ(ShareLinkSettings().facebookAppId, u"987654321098765"_s);
    Bundle::setMainBundle(Bundle(QDir(TestSupport::dataHome()).filePath(u"no-bundle"_s)));
    EXPECT_EQ(ShareLinkSettings().facebookAppId, QString());
    Bundle::setMainBundle(previous);

    ShareLinkSettings settings;
    settings.facebookAppId.clear();
    ShareLinkSettings::setCurrent(settings);
    const auto story = std::make_shared<NewsStory>(u"Headline"_s, u"Body"_s,
        Url::fromString(u"http://news.example/a"_s), std::optional<QDateTime>(),
        StoryTest::source());
    EXPECT_FALSE(canShareOnFacebook());
    EXPECT_FALSE(facebookShareURL(*story));
    EXPECT_TRUE(twitterShareURL(*story));
    settings.facebookAppId = u"987654321098765"_s;
    ShareLinkSettings::setCurrent(settings);
    EXPECT_TRUE(canShareOnFacebook());
    ASSERT_TRUE(facebookShareURL(*story));
    EXPECT_TRUE(facebookShareURL(*story)->query().contains(u"app_id=987654321098765"_s));
    ShareLinkSettings::setCurrent(kDefaults);
}

TEST_F(ShareLinks, EveryServiceGetsItsPathAndItems)
{
    const auto full = story(
        u"Headline"_s, u"Body"_s, u"http://news.example/a?b=1"_s, u"http://img.example/p.png"_s);

    const std::optional<Url> reader = readabilityURL(*full);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->scheme(), u"http"_s);
    EXPECT_EQ(reader->host(), kDefaults.readabilityHost);
    EXPECT_EQ(reader->path(), u"/m"_s);
    EXPECT_EQ(queryItems(*reader),
        (QMap<QString, QString> { { u"url"_s, u"http://news.example/a?b=1"_s } }));
    // The story's reader link is its link's.
    EXPECT_EQ(reader, readabilityURL(*full->link()));

    const std::optional<Url> instapaper = instapaperSaveURL(*full);
    ASSERT_TRUE(instapaper);
    EXPECT_EQ(instapaper->absoluteString().left(instapaper->absoluteString().indexOf(u'?')),
        u"http://"_s + kDefaults.instapaperHost + u"/hello2"_s);
    EXPECT_EQ(queryItems(*instapaper),
        (QMap<QString, QString> { { u"url"_s, u"http://news.example/a?b=1"_s },
            { u"title"_s, u"Headline"_s }, { u"description"_s, u"Body"_s } }));

    const std::optional<Url> twitter = twitterShareURL(*full);
    ASSERT_TRUE(twitter);
    EXPECT_EQ(twitter->host(), kDefaults.twitterHost);
    EXPECT_EQ(twitter->path(), u"/share"_s);
    EXPECT_EQ(queryItems(*twitter),
        (QMap<QString, QString> { { u"text"_s, u"Headline http://img.example/p.png"_s },
            { u"url"_s, u"http://news.example/a?b=1"_s }, { u"hashtags"_s, u"itstickerly"_s },
            { u"related"_s, u"velmora"_s } }));

    const std::optional<Url> facebook = facebookShareURL(*full);
    ASSERT_TRUE(facebook);
    EXPECT_EQ(facebook->scheme(), u"http"_s);
    EXPECT_EQ(facebook->host(), kDefaults.facebookHost);
    EXPECT_EQ(facebook->path(), u"/dialog/feed"_s);
    const auto items = queryItems(*facebook);
    EXPECT_EQ(items.keys(),
        (QStringList { u"app_id"_s, u"description"_s, u"display"_s, u"link"_s, u"name"_s,
            u"picture"_s, u"redirect_uri"_s }));
    EXPECT_EQ(items[u"app_id"_s].size(), 15);
    EXPECT_TRUE(items[u"redirect_uri"_s].startsWith(u"https://"_s));
    EXPECT_EQ(items[u"display"_s], u"popup"_s);
    EXPECT_EQ(items[u"picture"_s], u"http://img.example/p.png"_s);
}

TEST_F(ShareLinks, MissingFieldsBecomeEmptyTextsOrAreLeftOutByService)
{
    // No link: no reader link, empty "url"s, no "link".
    const auto linkless = story(u"H"_s, u"B"_s, QString(), u"http://img.example/p.png"_s);
    EXPECT_FALSE(readabilityURL(*linkless));
    EXPECT_EQ(queryItems(*instapaperSaveURL(*linkless)).value(u"url"_s, u"missing"_s), u""_s);
    EXPECT_EQ(queryItems(*twitterShareURL(*linkless)).value(u"url"_s, u"missing"_s), u""_s);
    EXPECT_FALSE(queryItems(*facebookShareURL(*linkless)).contains(u"link"_s));

    // No image link: the trailing blank of the tweet text stays; no "picture".
    const auto imageless = story(u"H"_s, u"B"_s, u"http://news.example/a"_s);
    EXPECT_EQ(queryItems(*twitterShareURL(*imageless)).value(u"text"_s), u"H "_s);
    EXPECT_FALSE(queryItems(*facebookShareURL(*imageless)).contains(u"picture"_s));

    // Neither headline nor body (as an old archive may hold a story).
    const auto textless = storyWithoutTexts(u"http://news.example/b"_s);
    ASSERT_TRUE(textless);
    ASSERT_FALSE(textless->headline());
    const auto saved = queryItems(*instapaperSaveURL(*textless));
    EXPECT_EQ(saved.size(), 3);
    EXPECT_EQ(saved.value(u"title"_s, u"missing"_s), u""_s);
    EXPECT_EQ(saved.value(u"description"_s, u"missing"_s), u""_s);
    const auto tweet = queryItems(*twitterShareURL(*textless));
    EXPECT_EQ(tweet.size(), 4);
    EXPECT_EQ(tweet.value(u"text"_s), u" "_s);
    EXPECT_EQ(queryItems(*facebookShareURL(*textless)).keys(),
        (QStringList { u"app_id"_s, u"display"_s, u"link"_s, u"redirect_uri"_s }));

    // An empty headline is there, only empty.
    const auto emptyHeadline = story(u""_s, u"B"_s, u"http://news.example/c"_s);
    EXPECT_EQ(queryItems(*facebookShareURL(*emptyHeadline)).value(u"name"_s, u"missing"_s), u""_s);
}

TEST_F(ShareLinks, ValuesHoldingQuerySyntaxArriveAsWritten)
{
    const QString headline = u"C++ & you: a=b #1 ü 100%"_s;
    const QString link = u"http://news.example/q?x=1&y=2#frag"_s;
    const auto tricky = story(headline, u"1+1=2 & more"_s, link, u"http://img.example/a+b.png"_s);

    const auto saved = queryItems(*instapaperSaveURL(*tricky));
    EXPECT_EQ(saved.value(u"title"_s), headline);
    EXPECT_EQ(saved.value(u"description"_s), u"1+1=2 & more"_s);
    EXPECT_EQ(saved.value(u"url"_s), link);
    EXPECT_EQ(queryItems(*twitterShareURL(*tricky)).value(u"text"_s),
        headline + u" http://img.example/a+b.png"_s);
    EXPECT_EQ(queryItems(*facebookShareURL(*tricky)).value(u"name"_s), headline);
    EXPECT_EQ(queryItems(*readabilityURL(*tricky)).value(u"url"_s), link);
    // Nothing but the separators is left literal, so no reader splits the query elsewhere.
    const QString query = twitterShareURL(*tricky)->query();
    EXPECT_FALSE(query.contains(u'+'));
    EXPECT_FALSE(query.contains(u'#'));
    EXPECT_FALSE(query.contains(u' '));
}

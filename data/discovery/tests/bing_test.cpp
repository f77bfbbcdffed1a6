#include "data/discovery/Bing.h"
#include "testsupport/SearchStandIn.h"
#include "platform/foundation/network/UrlSession.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::Data;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackServer;

namespace {

// 43 characters; "Qz" stands in for "k7" in the account key.
const QByteArray storedKey = "Qzb3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A";
const QByteArray accountKey = "k7b3RlZC1rZXktZm9yLXRlc3RzLW9ubHktMDEyMzQ1A";

Result<Url> searchFor(const QString& words)
{
    auto promise = std::make_shared<Bing>(UrlSession::create())->search(words);
    EXPECT_TRUE(TestSupport::waitFor([&] { return promise.isResolved(); }));
    return promise.value().value_or(Result<Url>::Error(Error(u"test"_s, -1, u"no answer"_s)));
}

QString describe(const Result<Url>& result)
{
    return result.isOk() ? result.value().absoluteString() : u"Error "_s + result.error().domain();
}

class WebSearch : public ::testing::Test {
protected:
    void SetUp() override { SearchStandIn::installKey(storedKey); }
    void TearDown() override
    {
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }
    LoopbackServer server;
    SearchStandIn search { server };
};

} // namespace

TEST_F(WebSearch, SendsTheQuotedWordsWithTheKeyOnBothSidesOfTheColon)
{
    search.answer(
        [](const QString&) { return SearchStandIn::results({ u"http://first.example.test/"_s }); });
    const struct {
        QString words;
        QByteArray path;
    } cases[] = {
        { u"tech news"_s, "/Bing/Search/Web?$format=JSON&Query='tech%20news'" },
        { u"o'reilly"_s, "/Bing/Search/Web?$format=JSON&Query='o'reilly'" },
        { u""_s, "/Bing/Search/Web?$format=JSON&Query=''" },
        // Nothing in the words can end the value or add an item.
        { u"C++ & you #1 =$"_s,
            "/Bing/Search/Web?$format=JSON&Query='C%2B%2B%20%26%20you%20%231%20%3D$'" },
        { u"café/ünï"_s, "/Bing/Search/Web?$format=JSON&Query='caf%C3%A9%2F%C3%BCn%C3%AF'" },
    };
    const QByteArray authorization = "Basic " + (accountKey + ":" + accountKey).toBase64();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.toStdString());
        EXPECT_EQ(describe(searchFor(c.words)), u"http://first.example.test/"_s);
        const auto request = server.requests().constLast();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path, c.path);
        EXPECT_EQ(request.header("Authorization"), authorization);
        EXPECT_EQ(request.header("Host"), Bing::searchHost().toUtf8());
    }
}

TEST_F(WebSearch, TakesTheFirstResultAndTurnsEveryUnusableAnswerIntoAnError)
{
    const struct {
        const char* name;
        QByteArray body;
        const char16_t* expected;
    } cases[] = {
        { "several results",
            SearchStandIn::results(
                { u"http://one.example.test/a"_s, u"http://two.example.test/"_s }),
            u"http://one.example.test/a" },
        { "empty results", R"({"d":{"results":[]}})", nullptr },
        { "first result without Url",
            R"({"d":{"results":[{"Title":"x"},{"Url":"http://two.example.test/"}]}})", nullptr },
        { "empty Url", R"({"d":{"results":[{"Url":""}]}})", nullptr },
        { "Url that is no text", R"({"d":{"results":[{"Url":42}]}})", nullptr },
        { "Url that is no address", R"({"d":{"results":[{"Url":"http://a b/"}]}})", nullptr },
        { "results that are no list", R"({"d":{"results":{"Url":"http://a.example.test/"}}})",
            nullptr },
        { "no d", R"({"results":[{"Url":"http://a.example.test/"}]})", nullptr },
        { "top level list", R"([{"d":{}}])", nullptr },
        { "bare string", R"("http://a.example.test/")", nullptr },
        { "no JSON", "<html>Service unavailable</html>", nullptr },
        { "no body", "", nullptr },
    };
    auto bing = std::make_shared<Bing>(UrlSession::create());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<Url> result = bing->handleResponse(c.body, UrlResponse());
        if (c.expected) {
            ASSERT_TRUE(result.isOk());
            EXPECT_EQ(result.value().absoluteString(), QString::fromUtf16(c.expected));
        } else {
            EXPECT_TRUE(result.isError());
        }
    }

    // Over the wire too, whatever the status.
    server.reply(u"/Bing/Search/Web"_s,
        TestSupport::bodyReply(SearchStandIn::results({ u"http://one.example.test/"_s }), 503));
    EXPECT_EQ(describe(searchFor(u"x"_s)), u"http://one.example.test/"_s);
    search.answer([](const QString&) { return QByteArray(R"({"d":{"results":[]}})"); });
    EXPECT_TRUE(searchFor(u"x"_s).isError());
    // A transport failure passes on unchanged.
    TestSupport::ScriptedReply cut
        = TestSupport::bodyReply(SearchStandIn::results({ u"http://a.example.test/"_s }));
    cut.cutAfter = 5;
    server.reply(u"/Bing/Search/Web"_s, cut);
    const Result<Url> failed = searchFor(u"x"_s);
    ASSERT_TRUE(failed.isError());
    EXPECT_EQ(failed.error().domain(), UrlError::domain);
}

TEST_F(WebSearch, TakesTheKeyFromTheEnvironmentBeforeTheFileAndWithoutOneFailsAtOnce)
{
    EXPECT_EQ(bingKey(), QString::fromLatin1(storedKey));
    qputenv("TICKERLY_SEARCH_KEY", "  from-the-environment \n");
    EXPECT_EQ(bingKey(), u"from-the-environment"_s);
    qunsetenv("TICKERLY_SEARCH_KEY");

    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/tickerly/search-key"_s);
    ASSERT_TRUE(bingKey().isEmpty());
    static std::atomic<int> told = 0;
    told = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (QByteArray(context.category) == "tickerly.discovery.search"
                && message.contains(u"no account key"_s))
                ++told;
        });
    for (int i = 0; i < 2; ++i) {
        auto promise = std::make_shared<Bing>(UrlSession::create())->search(u"tech"_s);
        ASSERT_TRUE(promise.isResolved()); // no request, no waiting
        ASSERT_TRUE(promise.value()->isError());
        EXPECT_TRUE(promise.value()->error().is(Bing::ErrorDomain, Bing::NoAccountKey));
    }
    qInstallMessageHandler(previous);
    EXPECT_LE(told.load(), 1);
    EXPECT_EQ(server.requests().size(), 0);
}

#include "api/APIRequest.h"

#include "api/JSON.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <cmath>

using namespace Tickerly::Foundation;
using namespace Tickerly::Linkwork;
using namespace Tickerly::API;

using namespace Qt::Literals::StringLiterals;

namespace {

Url url(const QString& text) { return *Url::fromString(text); }

QStringList logged;

void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    logged.append(message);
}

} // namespace

TEST(APIRequest, BuildsTheUrlFromTheBasePathAndOnlyItsOwnQuery)
{
    auto request = APIRequest::GET(u"/stories/hot"_s);
    const auto plain = request.URLRequest(url(u"http://api.example:4000/api/v1?old=1#frag"_s));
    EXPECT_EQ(plain.url.absoluteString(), u"http://api.example:4000/api/v1/stories/hot#frag"_s);
    EXPECT_EQ(plain.httpMethod, u"GET"_s);
    EXPECT_EQ(plain.timeoutInterval, 30.0);
    EXPECT_TRUE(plain.httpBody.isNull());

    auto query = APIRequest::POST(u"/feeds/added"_s);
    query.addQueryParam(u"1"_s, u"a"_s);
    EXPECT_EQ(query.URLRequest(url(u"https://h.example"_s)).url.absoluteString(),
        u"https://h.example/feeds/added?a=1"_s);
    query.addQueryParams({ { u"b"_s, u"x y&z=ü"_s }, { u"a"_s, u"2"_s } });
    const Url both = query.URLRequest(url(u"https://h.example"_s)).url;
    // Nothing escaped but what a query may not hold: "&" and "=" inside values stay.
    EXPECT_TRUE(
        both.query() == u"a=2&b=x%20y&z=%C3%BC"_s || both.query() == u"b=x%20y&z=%C3%BC&a=2"_s)
        << both.query().toStdString();
    EXPECT_EQ(query.URLRequest(url(u"http://[::1]:8080/base%20dir"_s))
                  .url.absoluteString()
                  .section(u'?', 0, 0),
        u"http://[::1]:8080/base%20dir/feeds/added"_s);
}

TEST(APIRequest, ReadsMethodsExactly)
{
    EXPECT_EQ(APIRequest::methodFromRawValue(u"PATCH"_s), APIRequest::Method::PATCH);
    EXPECT_FALSE(APIRequest::methodFromRawValue(u"get"_s));
    EXPECT_FALSE(APIRequest::methodFromRawValue(u"OPTIONS"_s));
    EXPECT_EQ(APIRequest::DELETE(u"/x"_s).URLRequest(url(u"http://h"_s)).httpMethod, u"DELETE"_s);
}

TEST(APIRequest, ForcesTheLanguageAndSetsTheContentTypeOnlyWithABody)
{
    auto request = APIRequest::POST(u"/x"_s);
    request.setHeaderValue(u"de"_s, u"accept-language"_s);
    request.setHeaderValue(u"text/plain"_s, u"Content-Type"_s);
    request.setEncodeBodyAsJSON(true);
    auto plain = request.URLRequest(url(u"http://h"_s));
    EXPECT_EQ(plain.value(u"Accept-Language"_s), u"en-US"_s);
    EXPECT_EQ(plain.headerFields.size(), 2);
    EXPECT_EQ(plain.value(u"Content-Type"_s), u"text/plain"_s); // empty body: kept
    EXPECT_TRUE(plain.httpBody.isNull());

    request.setBodyValue(u"v"_s, u"k"_s);
    plain = request.URLRequest(url(u"http://h"_s));
    EXPECT_EQ(plain.value(u"content-type"_s), u"application/json"_s);
    request.setEncodeBodyAsJSON(false);
    plain = request.URLRequest(url(u"http://h"_s));
    EXPECT_EQ(plain.value(u"Content-Type"_s), u"application/x-www-form-urlencoded"_s);
}

TEST(APIRequest, EncodesBodiesAsCompactJsonOrAsForms)
{
    auto request = APIRequest::POST(u"/stories/clicked"_s);
    request.setBodyValue(
        QVariantMap { { u"index"_s, 3 }, { u"url"_s, u"http://s/1"_s } }, u"story"_s);
    request.setEncodeBodyAsJSON(true);
    const auto json = request.URLRequest(url(u"http://h"_s));
    ASSERT_FALSE(json.httpBody.isEmpty());
    const JSON sent = JSON::fromData(json.httpBody, JSONSerialization::NoReadingOptions);
    EXPECT_EQ(sent.subscript(u"story"_s, u"index"_s).type(), JSON::Type::Number);
    EXPECT_EQ(sent.subscript(u"story"_s, u"url"_s).string(), u"http://s/1"_s);
    EXPECT_FALSE(json.httpBody.contains(' '));

    auto form = APIRequest::POST(u"/f"_s);
    form.setBodyValue(1, u"a"_s);
    EXPECT_EQ(form.URLRequest(url(u"http://h"_s)).httpBody, QByteArray("a=1&"));
    form.setBodyValue(u"x y&ü"_s, u"b"_s);
    EXPECT_EQ(form.URLRequest(url(u"http://h"_s)).httpBody, QByteArray("a=1&b=x y&\xc3\xbc&"));
}

TEST(APIRequest, WritesALoneSurrogateInABodyAsAReplacementCharacter)
{
    const QString lone = u"a"_s + QChar(0xDC00) + u"b"_s;
    auto form = APIRequest::POST(u"/f"_s);
    form.setBodyValue(lone, u"s"_s);
    EXPECT_EQ(form.URLRequest(url(u"http://h"_s)).httpBody,
        QByteArray("s=a\xef\xbf\xbd"
                   "b&"));

    form.setEncodeBodyAsJSON(true);
    const JSON sent = JSON::fromData(form.URLRequest(url(u"http://h"_s)).httpBody);
    EXPECT_EQ(sent[u"s"_s].string(), u"a\uFFFDb"_s);
}

TEST(APIRequest, SendsNoBodyButLogsWhenTheBodyCannotBeWritten)
{
    auto request = APIRequest::POST(u"/x"_s);
    request.setBodyValue(std::nan(""), u"n"_s);
    request.setBodyValue(QVariant(QByteArray("raw")), u"b"_s);
    request.setEncodeBodyAsJSON(true);
    logged.clear();
    const auto previous = qInstallMessageHandler(collect);
    const auto plain = request.URLRequest(url(u"http://h"_s));
    qInstallMessageHandler(previous);
    EXPECT_TRUE(plain.httpBody.isNull());
    EXPECT_EQ(plain.value(u"Content-Type"_s), u"application/json"_s);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged.first().startsWith(
        u"Got error while serializing JSON body data. It is a unsupported type. "_s))
        << logged.first().toStdString();
}

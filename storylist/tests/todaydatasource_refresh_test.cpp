#include "storylist/TodayDataSource.h"

#include "data/model/Shared.h"
#include "data/model/SourcesData.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TestSupport.h"

#include <QHash>
#include <QProcess>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::WidgetInterface;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace StoryListTest;
using TestSupport::LoopbackServer;
using TestSupport::ScriptedReply;

namespace {

struct Item {
    QString headline;
    QString link; // none when empty
    QString imagePath;
    int minutes; // after 1970, for the order
};

ScriptedReply rss(const QList<Item>& items)
{
    QByteArray doc = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>";
    for (const Item& item : items) {
        doc += "<item><title>" + item.headline.toUtf8() + "</title>";
        if (!item.link.isEmpty())
            doc += "<link>" + item.link.toUtf8() + "</link>";
        doc += "<pubDate>"
            + QDateTime::fromSecsSinceEpoch(item.minutes * 60, Qt::UTC)
                  .toString(Qt::RFC2822Date)
                  .toUtf8()
            + "</pubDate>";
        doc += "<enclosure type=\"image/png\" url=\"http://images.example.test"
            + item.imagePath.toUtf8() + "\"/></item>";
    }
    ScriptedReply reply;
    reply.body = doc + "</channel></rss>";
    reply.headers = { { "Content-Type", "application/rss+xml" } };
    return reply;
}

ScriptedReply png(QColor color)
{
    QImage image(40, 60, QImage::Format_ARGB32);
    image.fill(color);
    ScriptedReply reply = TestSupport::bodyReply(data(image));
    reply.headers = { { "Content-Type", "image/png" } };
    return reply;
}

class TodayDataSourceRefresh : public ::testing::Test {
protected:
    void SetUp() override
    {
        TableView::setDefaultAnimationDuration(0);
        UrlSessionTesting::mapToLoopback(u"http"_s, u"feeds.example.test"_s, 80, server.port());
        UrlSessionTesting::mapToLoopback(u"http"_s, u"images.example.test"_s, 80, server.port());
    }
    void TearDown() override
    {
        UrlSessionTesting::closeIdleConnections();
        UrlSessionTesting::removeLoopbackMappings();
    }
    LoopbackServer server;
};

} // namespace

TEST_F(TodayDataSourceRefresh, RowsGetThePicturesOfTheirStoriesEachWhenItArrives)
{
    ASSERT_TRUE(UrlSessionTesting::isLoopbackOnly());
    const QList<QList<Item>> feeds = {
        { { u"A1"_s, u"http://site.example.test/a1"_s, u"/a1.png"_s, 10 },
            { u"A2"_s, u"http://site.example.test/a2"_s, u"/a2.png"_s, 5 } },
        { { u"B1"_s, u"http://site.example.test/b1"_s, u"/b1.png"_s, 9 } },
        // Two stories without a link, so "equal" to each other: each keeps its own picture.
        { { u"C1"_s, QString(), u"/c1.png"_s, 8 }, { u"C2"_s, QString(), u"/c2.png"_s, 7 } },
    };
    const QHash<QString, QColor> colours = { { u"A1"_s, Qt::red }, { u"A2"_s, Qt::green },
        { u"B1"_s, Qt::blue }, { u"C1"_s, Qt::yellow }, { u"C2"_s, Qt::magenta } };
    for (int f = 0; f < feeds.size(); ++f) {
        const QString path = u"/feed"_s + QString::number(f);
        server.reply(path, rss(feeds[f]));
        for (const Item& item : feeds[f])
            server.reply(item.imagePath, png(colours.value(item.headline)));
        (void)SourcesData().addSource(
            std::make_shared<Source>(path, u"http://feeds.example.test"_s + path));
    }
    TestSupport::processEvents();

    TodayDataSource dataSource;
    dataSource.setExpanded(true);
    TableView table;
    FakeController controller(1);
    controller.attach(table, dataSource);
    const QImage fallback = imageNamed(u"tickerly_default"_s);
    auto pictureOf = [&](int row) -> QImage {
        CountingCell* cell = cellAt(table, row);
        return cell && cell->data() && cell->data()->image ? *cell->data()->image : QImage();
    };

    // Taken as the refresh ends, before any picture can have come back to the main thread.
    bool handled = false;
    QHash<int, int> bindingsAtReload;
    dataSource.updateContents([&](NCUpdateResult) {
        handled = true;
        ASSERT_EQ(table.numberOfRows(), 6);
        for (int row = 1; row < 6; ++row) {
            EXPECT_EQ(pictureOf(row), fallback) << "row " << row;
            bindingsAtReload[row] = cellAt(table, row)->bindings;
        }
    });
    ASSERT_TRUE(TestSupport::waitFor([&] { return handled; }));
    ASSERT_EQ(bindingsAtReload.size(), 5);
    ASSERT_TRUE(TestSupport::waitFor([&] {
        for (int row = 1; row < 6; ++row) {
            if (pictureOf(row) == fallback)
                return false;
        }
        return true;
    }));
    TestSupport::processEvents();
    for (int row = 1; row < 6; ++row) {
        CountingCell* cell = cellAt(table, row);
        EXPECT_EQ(pictureOf(row).pixelColor(0, 0), colours.value(cell->data()->title))
            << "row " << row;
        EXPECT_EQ(cell->bindings, bindingsAtReload[row] + 1) << "row " << row;
    }
    EXPECT_EQ(dataSource.imageCache.size(), 3);
    EXPECT_FALSE(dataSource.imageCache.contains(QString()));
    // Three feeds and five pictures, every one answered here.
    EXPECT_EQ(server.requests().size(), 8);
    for (const auto& request : server.requests())
        EXPECT_TRUE(request.header("host").endsWith(".example.test"))
            << request.header("host").toStdString();

    // The next refresh makes new story objects: the linked ones show their cached pictures at
    // once, the ones without a link wait for their own.
    QStringList shownAtOnce;
    controller.onDidReload = [&] {
        for (int row = 1; row < table.numberOfRows(); ++row) {
            if (pictureOf(row) != fallback)
                shownAtOnce.append(cellAt(table, row)->data()->title);
        }
    };
    handled = false;
    dataSource.updateContents([&](NCUpdateResult) { handled = true; });
    ASSERT_TRUE(TestSupport::waitFor([&] { return handled; }));
    EXPECT_EQ(shownAtOnce, (QStringList { u"A1"_s, u"B1"_s, u"A2"_s }));
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requests().size() == 16; }));
}

TEST_F(TodayDataSourceRefresh, ASettingWrittenInAnotherProcessRefreshesThisOne)
{
    if (!DistributedNotificationCenter::defaultCenter().isAvailable())
        GTEST_SKIP() << "no session bus";
    server.reply(
        u"/feed"_s, rss({ { u"Only"_s, u"http://site.example.test/only"_s, u"/only.png"_s, 1 } }));
    server.reply(u"/only.png"_s, png(Qt::cyan));
    (void)SourcesData().addSource(std::make_shared<Source>(u"feed"_s, server.url(u"/feed"_s)));
    TestSupport::processEvents();

    TodayDataSource dataSource;
    FakeController controller;
    dataSource.setDelegate(&controller);

    QProcess helper;
    helper.start(TestSupport::helperPath(u"storylist_helper"_s), { u"write-setting"_s });
    ASSERT_TRUE(helper.waitForFinished(30000));
    EXPECT_EQ(helper.exitCode(), 0) << helper.readAllStandardError().toStdString();
    EXPECT_EQ(helper.readAllStandardOutput().trimmed(), "1");

    ASSERT_TRUE(TestSupport::waitFor([&] { return controller.events.size() == 2; }));
    EXPECT_EQ(controller.events, (QStringList { u"willReload"_s, u"didReload 1"_s }));
    EXPECT_EQ(dataSource.stories.first()->headline(), u"Only"_s);
    // Each process downloaded the feed once.
    EXPECT_EQ(server.requestCount(u"/feed"_s), 2);
    TestSupport::processEvents();
    EXPECT_EQ(controller.events.size(), 2);
}

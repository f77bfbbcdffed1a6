// A person's session with the real programs, run as separate processes over one data home and
// the session bus the test was started on, against a loopback world: nothing leaves the machine.

#include "app/tests/e2e/Desktop.h"

#include "data/model/SourcesData.h"
#include "data/model/StoredStoriesData.h"
#include "data/model/StoryStateData.h"
#include "data/model/TopFeedsData.h"
#include "storylist/Preferences.h"
#include "testsupport/LoopbackWorld.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace Tickerly;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using TestSupport::LoopbackWorld;

namespace {

const QString sourcesTitle = u"Tickerly"_s;
const QString storiesTitle = u"Stories"_s;
const QString preferencesTitle = u"Preferences"_s;
// Places in the preferences window's fixed layout, from its top left corner.
const QPoint showImagesBox(31, 125);
const QPoint showButtonsBox(31, 151);
const QPoint websiteButton(78, 362);
// Where the stories window is put, and its first story row from its top left corner.
const QPoint storiesAt(640, 0);
const QPoint secondStoryRow(190, 122);
const QPoint thirdStoryRow(60, 199);
// In the sources window, at the screen's top left corner: the search field, and the second
// source's button.
const QPoint searchField(210, 52);
// The first popular feed's add button in the panel under the search field.
const QPoint addFirstPopularButton(256, 123);
const QPoint removeSecondSourceButton(544, 164);

class Session : public testing::Test {
protected:
    void SetUp() override
    {
        if (!E2E::Desktop::available())
            GTEST_SKIP() << "needs an X server and xdotool (ctest starts its own X server)";
        const QString home = QDir::cleanPath(TestSupport::dataHome() + u"/.."_s);
        m_hostMap = QDir(home).filePath(u"hosts"_s);
        m_openedLinks = QDir(home).filePath(u"opened-links"_s);
        ASSERT_TRUE(m_world.writeHostMap(m_hostMap));
        // The test reads the programs' store; it never talks to the world itself.
    }

    QStringList environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        // A person's desktop has a language; the bare C locale would show times to the second.
        env.insert(u"LANG"_s, u"en_US.UTF-8"_s);
        env.remove(u"LC_ALL"_s);
        env.remove(u"LC_TIME"_s);
        env.insert(u"TICKERLY_LOOPBACK_ONLY"_s, u"1"_s);
        env.insert(u"TICKERLY_TEST_HOST_MAP"_s, m_hostMap);
        env.insert(u"TICKERLY_TEST_OPENED_LINKS"_s, m_openedLinks);
        env.insert(u"TICKERLY_SEARCH_KEY"_s, u"loopback-key"_s);
        return env.toStringList();
    }

    std::unique_ptr<E2E::Program> startApplication()
    {
        auto program = std::make_unique<E2E::Program>(
            TestSupport::helperPath(u"Tickerly_Mac"_s), environment());
        m_desktop.setProgram(program->pid());
        return program;
    }

    QStringList openedLinks() const
    {
        return QString::fromUtf8(TestSupport::readFile(m_openedLinks))
            .split(u'\n', Qt::SkipEmptyParts);
    }

    LoopbackWorld m_world;
    E2E::Desktop m_desktop { QStringLiteral(TICKERLY_SCREENSHOT_DIR) };
    QString m_hostMap;
    QString m_openedLinks;
};

TEST_F(Session, APersonsDayWithTheProduct)
{
    // Launch: the sources window opens on the welcome screen, the popular feeds and source names
    // arrive from the product's static host, and each popular site's icon is fetched from its
    // home page.
    auto application = startApplication();
    const auto sources = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(sources) << application->output().toStdString();
    m_desktop.screenshot(u"01-welcome"_s);
    EXPECT_TRUE(E2E::poll([] { return TopFeedsData().topFeeds().size() == 3; }, 30000))
        << "popular feeds stored: " << TopFeedsData().topFeeds().size();
    EXPECT_EQ(m_world.requestsTo(u"static.tickerly.app"_s, u"/app-static/names.json"_s).size(), 1);
    for (const QString& host :
        { LoopbackWorld::journalHost, LoopbackWorld::planetHost, LoopbackWorld::slowHost })
        EXPECT_TRUE(
            E2E::poll([&] { return !m_world.requestsTo(host, u"/touch.png"_s).isEmpty(); }, 30000))
            << "no icon fetched from " << host.toStdString();

    // A source is added by its site's address, another by search words: typed, then Return.
    // Each addition is reported to the API server.
    // The search field's focus shows the popular panel; a popular feed is added with its button.
    m_desktop.click(searchField);
    m_desktop.screenshot(u"01-popular"_s);
    m_desktop.click(addFirstPopularButton);
    EXPECT_TRUE(E2E::poll(
        [] {
            const auto list = SourcesData().sources();
            return list.size() == 1 && list[0]->link().contains(LoopbackWorld::journalHost);
        },
        30000))
        << "sources stored: " << SourcesData().sources().size();
    m_desktop.screenshot(u"01-popular-added"_s);

    m_desktop.click(searchField);
    m_desktop.type(LoopbackWorld::homeURL(LoopbackWorld::planetHost));
    m_desktop.key(*m_desktop.waitForWindow(sourcesTitle), u"Return"_s);
    EXPECT_TRUE(E2E::poll([] { return SourcesData().sources().size() == 2; }, 30000));
    m_desktop.click(searchField);
    m_desktop.type(LoopbackWorld::searchWords);
    m_desktop.key(*m_desktop.waitForWindow(sourcesTitle), u"Return"_s);
    EXPECT_TRUE(E2E::poll([] { return SourcesData().sources().size() == 3; }, 30000));
    EXPECT_TRUE(m_world.searches().contains(LoopbackWorld::searchWords));
    EXPECT_TRUE(E2E::poll(
        [&] { return !m_world.requestsTo(LoopbackWorld::newsHost, u"/touch.png"_s).isEmpty(); },
        30000));
    m_desktop.screenshot(u"01-added"_s);

    // Without sources the stories window says there is no news.
    const auto emptyStories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, storiesTitle);
    ASSERT_TRUE(emptyStories);
    m_desktop.move(*emptyStories, storiesAt);
    m_desktop.screenshot(u"02-no-stories"_s);

    // A preference is changed with the pointer in its window and kept in the shared store.
    const auto preferences = m_desktop.openWith(sourcesTitle, u"ctrl+comma"_s, preferencesTitle);
    ASSERT_TRUE(preferences) << application->output().toStdString();
    m_desktop.move(*preferences, QPoint(160, 120));
    const QPoint preferencesAt = m_desktop.geometry(*preferences).topLeft();
    m_desktop.screenshot(u"03-preferences"_s);
    ASSERT_TRUE(Preferences().widgetImages());
    m_desktop.click(preferencesAt + showImagesBox);
    EXPECT_TRUE(E2E::poll([] { return !Preferences().widgetImages(); }, 30000));
    m_desktop.screenshot(u"04-preference-changed"_s);

    // A link button opens its page in the browser, here the recorder.
    m_desktop.click(preferencesAt + websiteButton);
    EXPECT_TRUE(E2E::poll([this] { return openedLinks().size() == 1; }, 30000));

    // Quitting ends the program cleanly, by itself.
    m_desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !application->isRunning(); });
    EXPECT_EQ(application->waitForExit(30000), std::optional<int>(0))
        << application->output().toStdString();
    EXPECT_TRUE(m_desktop.waitForNoWindow(sourcesTitle));

    // The other sites are stored while the program is not running, as a person's earlier
    // session could have left them: every kind of site of the world.
    {
        SourcesData stored;
        const auto known = [&stored](const QString& host) {
            const auto list = stored.sources();
            return std::any_of(list.cbegin(), list.cend(),
                [&host](const auto& source) { return source->link().contains(host); });
        };
        for (const QString& host : { LoopbackWorld::newsHost, LoopbackWorld::planetHost,
                 LoopbackWorld::journalHost, LoopbackWorld::slowHost })
            if (!known(host))
                (void)stored.addSource(std::make_shared<Source>(host, m_world.feedURL(host)));
        (void)stored.addSource(std::make_shared<Source>(LoopbackWorld::deadHost,
            LoopbackWorld::homeURL(LoopbackWorld::deadHost) + u"feed.xml"_s));
        (void)stored.addSource(std::make_shared<Source>(LoopbackWorld::brokenHost,
            LoopbackWorld::homeURL(LoopbackWorld::brokenHost) + u"feed.xml"_s));
    }

    // A restart keeps the state: the changed preference, the popular feeds. The sources list
    // shows the sources, and their icons arrive.
    application = startApplication();
    const auto again = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(again) << application->output().toStdString();
    EXPECT_FALSE(Preferences().widgetImages());
    EXPECT_EQ(TopFeedsData().topFeeds().size(), 3);
    EXPECT_TRUE(E2E::poll(
        [&] { return !m_world.requestsTo(LoopbackWorld::newsHost, u"/touch.png"_s).isEmpty(); },
        30000));
    m_desktop.screenshot(u"05-sources"_s);

    // The widget host shows the widget's panel, a second process over the same store.
    E2E::Program widgetHost(TestSupport::helperPath(u"Tickerly_Widget_Host"_s), environment());
    const auto panel = m_desktop.waitForWindowOf(widgetHost.pid());
    ASSERT_TRUE(panel) << widgetHost.output().toStdString();

    // The stories window refreshes as it opens and lists the stories newest first; the dead
    // site and the error page hold nothing up.
    const auto stories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, storiesTitle);
    ASSERT_TRUE(stories) << application->output().toStdString();
    m_desktop.move(*stories, storiesAt);
    EXPECT_TRUE(E2E::poll([] { return StoredStoriesData().storedStories().size() == 19; }, 30000))
        << "stories stored: " << StoredStoriesData().storedStories().size();
    const auto stored = StoredStoriesData().storedStories();
    for (qsizetype i = 1; i < stored.size(); ++i)
        EXPECT_GE(stored[i - 1]->date(), stored[i]->date()) << "story " << i;
    m_desktop.screenshot(u"06-stories"_s);

    const QPoint listAt = m_desktop.geometry(*stories).topLeft();
    // A click on the second story reports the click to the API server and opens its link.
    ASSERT_GE(stored.size(), 3);
    m_desktop.click(listAt + secondStoryRow);
    EXPECT_TRUE(E2E::poll([&] { return m_world.clickReports().size() == 1; }, 30000));
    EXPECT_TRUE(E2E::poll([&] { return openedLinks().size() == 2; }, 30000));
    EXPECT_EQ(openedLinks().value(1), stored[1]->link()->absoluteString());
    EXPECT_EQ(m_world.clickReports().value(0).value(u"url"_s).toString(),
        stored[1]->link()->absoluteString());
    m_desktop.screenshot(u"07-story-opened"_s);

    // A swipe to the right removes the third story.
    const QString swiped = stored[2]->link()->absoluteString();
    m_desktop.drag(listAt + thirdStoryRow, listAt + thirdStoryRow + QPoint(300, 0));
    EXPECT_TRUE(E2E::poll(
        [&] { return StoryStateData().stateForLink(swiped) != StoryState::None; }, 30000));
    m_desktop.screenshot(u"08-story-swiped"_s);

    // A source is removed with its button in the sources window; the next refresh leaves its
    // stories out.
    const QString removedHost = QUrl(SourcesData().sources().value(1)->link()).host();
    m_desktop.click(removeSecondSourceButton);
    EXPECT_TRUE(E2E::poll([] { return SourcesData().sources().size() == 5; }, 30000));
    // The refresh action refreshes the list, as a person with a mouse wheel refreshes it: every
    // feed is asked again.
    const QString keptHost = QUrl(SourcesData().sources().value(0)->link()).host();
    const QString keptFeed = QUrl(m_world.feedURL(keptHost)).path();
    const qsizetype asked = m_world.requestsTo(keptHost, keptFeed).size();
    EXPECT_TRUE(m_desktop.typeUntil(storiesTitle, u"ctrl+r"_s,
        [&] { return m_world.requestsTo(keptHost, keptFeed).size() > asked; }));
    m_desktop.screenshot(u"09-refresh"_s);
    EXPECT_TRUE(E2E::poll(
        [&] {
            const auto now = StoredStoriesData().storedStories();
            return !now.isEmpty() && std::none_of(now.cbegin(), now.cend(), [&](const auto& story) {
                return story->source()->link().contains(removedHost);
            });
        },
        30000));
    m_desktop.screenshot(u"10-source-removed"_s);

    // The widget follows a preference changed in the application: its rows lose their buttons.
    const QImage panelBefore = m_desktop.grab(*panel);
    const auto settings = m_desktop.openWith(sourcesTitle, u"ctrl+comma"_s, preferencesTitle);
    ASSERT_TRUE(settings);
    m_desktop.move(*settings, QPoint(160, 120));
    m_desktop.click(m_desktop.geometry(*settings).topLeft() + showButtonsBox);
    EXPECT_TRUE(E2E::poll([] { return !Preferences().widgetButtons(); }, 30000));
    EXPECT_TRUE(E2E::poll([&] { return m_desktop.grab(*panel) != panelBefore; }, 30000));
    m_desktop.screenshot(u"11-widget-follows"_s);

    // Both programs quit by a person's hand, and a restart shows what the day left.
    m_desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !application->isRunning(); });
    EXPECT_EQ(application->waitForExit(30000), std::optional<int>(0))
        << application->output().toStdString();
    m_desktop.key(*panel, u"ctrl+q"_s);
    EXPECT_EQ(widgetHost.waitForExit(30000), std::optional<int>(0))
        << widgetHost.output().toStdString();

    const auto keptSources = SourcesData().sources();
    const auto keptStories = StoredStoriesData().storedStories();
    application = startApplication();
    ASSERT_TRUE(m_desktop.waitForWindow(sourcesTitle)) << application->output().toStdString();
    EXPECT_EQ(SourcesData().sources().size(), 5);
    EXPECT_EQ(SourcesData().sources().size(), keptSources.size());
    EXPECT_EQ(StoredStoriesData().storedStories().size(), keptStories.size());
    EXPECT_NE(StoryStateData().stateForLink(swiped), StoryState::None);
    EXPECT_FALSE(Preferences().widgetButtons());
    m_desktop.screenshot(u"12-restarted"_s);
    m_desktop.typeUntil(sourcesTitle, u"ctrl+q"_s, [&] { return !application->isRunning(); });
    EXPECT_EQ(application->waitForExit(30000), std::optional<int>(0));
}

} // namespace

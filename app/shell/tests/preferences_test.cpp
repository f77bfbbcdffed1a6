#include "app/shell/PreferencesViewController.h"
#include "app/shell/Storyboards.h"
#include "platform/appkit/Storyboard.h"
#include "platform/appkit/TopLevelWindow.h"
#include "platform/appkit/Workspace.h"
#include "platform/foundation/base/Bundle.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "data/model/tests/ReadOnlyStore.h"
#include "storylist/Preferences.h"
#include "storylist/tests/StoryListTestSupport.h"
#include "testsupport/LogCollector.h"
#include "testsupport/RecordingWorkspace.h"
#include "testsupport/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

using TestSupport::RecordingWorkspace;

namespace {

class PreferencesWindow : public testing::Test {
protected:
    void SetUp() override
    {
        registerApplicationStoryboards();
        Workspace::setSharedWorkspace(&workspace);
    }
    void TearDown() override
    {
        Workspace::setSharedWorkspace(nullptr);
        PreferencesViewController::setLinks({});
        shown.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Every write is announced on the bus: none may reach a later test.
        StoryListTest::drainPostedNotifications();
    }

    // A new preferences window, on screen, as the application opens it.
    PreferencesViewController* open()
    {
        shown = controllerCast<WindowController>(
            Storyboard::named(u"Preferences"_s)->instantiateInitialController());
        if (!shown)
            return nullptr;
        shown->showWindow(nullptr);
        return qobject_cast<PreferencesViewController*>(shown->contentViewController());
    }

    std::shared_ptr<WindowController> shown;
    RecordingWorkspace workspace;
    QStringList& opened = workspace.opened;
};

// Clicks where the checkbox takes clicks: its box.
void click(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect target = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, target.center());
}

void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

QList<std::pair<QString, qint64>> entries(const QComboBox* popUp)
{
    QList<std::pair<QString, qint64>> list;
    for (int i = 0; i < popUp->count(); ++i)
        list.append({ popUp->itemText(i), popUp->itemData(i).toLongLong() });
    return list;
}

// The controls' states: the four checkboxes, then the selected tag (-1 with none selected).
QList<qint64> shownState(const PreferencesViewController& c)
{
    QList<qint64> state;
    for (const QCheckBox* box : { c.readbilityOnOpenCheckbox.data(), c.hideOnOpenCheckbox.data(),
             c.imagesCheckbox.data(), c.buttonsCheckbox.data() })
        state.append(box->checkState() == Qt::Checked ? 1 : 0);
    const QComboBox& popUp = *c.numberOfStoriesButton;
    state.append(popUp.currentIndex() < 0 ? -1 : popUp.currentData().toLongLong());
    return state;
}

// The settings as stored: reader, hide, number, expanded, images, buttons.
QString storedSettings()
{
    const Preferences p;
    return u"%1 %2 %3 %4 %5 %6"_s.arg(int(p.readabilityOnOpen()))
        .arg(int(p.hideOnOpen()))
        .arg(p.numberOfStories())
        .arg(int(p.widgetExpanded()))
        .arg(int(p.widgetImages()))
        .arg(int(p.widgetButtons()));
}

// Writes a bundle whose interface table gives "<mark>: <key>" for every key.
QString markedBundle(const QString& mark, const QStringList& keys)
{
    const QString root = QDir(TestSupport::dataHome()).filePath(u"bundle-"_s + mark);
    QDir().mkpath(root + u"/en"_s);
    QJsonObject table;
    for (const QString& key : keys)
        table.insert(key, mark + u": "_s + key);
    QFile info(root + u"/Info.json"_s);
    QFile interface(root + u"/en/Interface.json"_s);
    if (!info.open(QIODevice::WriteOnly) || !interface.open(QIODevice::WriteOnly))
        return {};
    info.write(R"({ "Localization file": "Interface" })");
    interface.write(QJsonDocument(table).toJson());
    return root;
}

} // namespace

TEST_F(PreferencesWindow, OpensOnTheStoredSettingsWithEveryNumberAndAllOnOffer)
{
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    EXPECT_EQ(entries(c->numberOfStoriesButton),
        (QList<std::pair<QString, qint64>> {
            { u"3"_s, 3 }, { u"5"_s, 5 }, { u"7"_s, 7 }, { u"10"_s, 10 }, { u"All"_s, 0 } }));
    // Nothing stored: reader and hide off, images and buttons on, five stories.
    EXPECT_EQ(shownState(*c), (QList<qint64> { 0, 0, 1, 1, 5 }));
    EXPECT_TRUE(c->versionLabel->text().startsWith(u"Tickerly "_s));

    Preferences settings;
    (void)settings.setReadabilityOnOpen(true);
    (void)settings.setHideOnOpen(true);
    (void)settings.setWidgetImages(false);
    (void)settings.setWidgetButtons(false);
    (void)settings.setNumberOfStories(7);
    // The open window does not follow changes made elsewhere.
    EXPECT_EQ(shownState(*c), (QList<qint64> { 0, 0, 1, 1, 5 }));
    EXPECT_EQ(shownState(*open()), (QList<qint64> { 1, 1, 0, 0, 7 }));

    // Showing all, set by the widget, wins over the stored number.
    (void)settings.setWidgetExpanded(true);
    EXPECT_EQ(shownState(*open()).last(), 0);
    // A number the pop-up does not offer selects nothing.
    (void)settings.setWidgetExpanded(false);
    (void)settings.setNumberOfStories(12);
    EXPECT_EQ(shownState(*open()).last(), -1);
    EXPECT_EQ(storedSettings(), u"1 1 12 0 0 0"_s);
}

TEST_F(PreferencesWindow, EachControlWritesItsSettingAndTheWidgetProcessRefreshes)
{
    auto& center = DistributedNotificationCenter::defaultCenter();
    if (!center.isAvailable())
        GTEST_SKIP() << "no session bus";
    QProcess widget;
    widget.start(TestSupport::helperPath(u"app_preferences_helper"_s), { u"watch"_s });
    QStringList heard;
    auto hear = [&](qsizetype count) {
        return TestSupport::waitFor([&] {
            while (widget.canReadLine())
                heard.append(QString::fromUtf8(widget.readLine().trimmed()));
            return heard.size() >= count;
        });
    };
    ASSERT_TRUE(hear(1)) << widget.readAllStandardError().toStdString();
    ASSERT_EQ(heard.takeFirst(), u"ready"_s);

    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    // One write each, and the other process reads it once its refresh starts.
    const std::pair<std::function<void()>, QString> steps[] = {
        { [&] { click(c->readbilityOnOpenCheckbox); }, u"1 0 5 0 1 1"_s },
        { [&] { click(c->hideOnOpenCheckbox); }, u"1 1 5 0 1 1"_s },
        { [&] { click(c->imagesCheckbox); }, u"1 1 5 0 0 1"_s },
        { [&] { click(c->buttonsCheckbox); }, u"1 1 5 0 0 0"_s },
        { [&] { QTest::keyClick(c->hideOnOpenCheckbox, Qt::Key_Space); }, u"1 0 5 0 0 0"_s },
    };
    for (const auto& [act, expected] : steps) {
        act();
        EXPECT_EQ(storedSettings(), expected);
        ASSERT_TRUE(hear(1));
        EXPECT_EQ(heard.takeFirst(), expected);
    }

    // The pop-up writes the number, then whether all are shown: two announcements. All stores
    // the default number.
    QTest::keyClick(c->numberOfStoriesButton, Qt::Key_End);
    EXPECT_EQ(storedSettings(), u"1 0 5 1 0 0"_s);
    ASSERT_TRUE(hear(2));
    EXPECT_EQ(heard.takeLast(), u"1 0 5 1 0 0"_s);
    heard.clear();
    QTest::keyClick(c->numberOfStoriesButton, Qt::Key_Up);
    EXPECT_EQ(storedSettings(), u"1 0 10 0 0 0"_s);
    ASSERT_TRUE(hear(2));
    EXPECT_EQ(heard.takeLast(), u"1 0 10 0 0 0"_s);
    heard.clear();

    // Posts from one sender arrive in order: once the widget stops, it has heard everything.
    center.postNotificationName(u"PreferencesHelperStop"_s);
    ASSERT_TRUE(widget.waitForFinished(60000));
    EXPECT_EQ(widget.exitCode(), 0);
    hear(0);
    EXPECT_EQ(heard, QStringList());

    // The next opening shows what was chosen, all included.
    EXPECT_EQ(shownState(*open()), (QList<qint64> { 1, 0, 0, 0, 10 }));
    QTest::keyClick(shown->contentViewController()->view()->findChild<QComboBox*>(), Qt::Key_End);
    EXPECT_EQ(shownState(*open()), (QList<qint64> { 1, 0, 0, 0, 0 }));
}

TEST_F(PreferencesWindow, OnlyATickedBoxCountsAsOn)
{
    (void)Preferences().setReadabilityOnOpen(true);
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    QCheckBox* box = c->readbilityOnOpenCheckbox;
    box->setTristate(true);
    click(box); // ticked to clear
    EXPECT_FALSE(Preferences().readabilityOnOpen());
    click(box); // clear to mixed
    ASSERT_EQ(box->checkState(), Qt::PartiallyChecked);
    (void)Preferences().setReadabilityOnOpen(true);
    c->readabilityOnOpenChanged(box);
    EXPECT_FALSE(Preferences().readabilityOnOpen());
}

// A store that cannot be written refuses every change: each control shows the stored value
// again, and the log says why.
TEST_F(PreferencesWindow, AChangeTheStoreRefusesShowsTheStoredValueAgain)
{
    (void)Preferences().setReadabilityOnOpen(true);
    (void)Preferences().setNumberOfStories(10);
    ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.ok());
    const TestSupport::LogCollector log;
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    const QList<qint64> stored { 1, 0, 1, 1, 10 };
    ASSERT_EQ(shownState(*c), stored);

    for (QCheckBox* box : { c->readbilityOnOpenCheckbox.data(), c->hideOnOpenCheckbox.data(),
             c->imagesCheckbox.data(), c->buttonsCheckbox.data() }) {
        click(box);
        EXPECT_EQ(shownState(*c), stored) << box->text().toStdString();
    }
    QTest::keyClick(c->numberOfStoriesButton, Qt::Key_End);
    EXPECT_EQ(shownState(*c), stored);
    EXPECT_EQ(storedSettings(), u"1 0 10 0 1 1"_s);
    EXPECT_EQ(log.lines().filter(u"the store refused the setting"_s).size(), 6)
        << log.lines().join(u'\n').toStdString();
}

TEST_F(PreferencesWindow, SetsItsTextsAgainEachTimeItShows)
{
    const std::pair<QString, std::function<QString(const PreferencesViewController&)>> texts[] = {
        { u"Preferences title"_s, [](auto& c) { return c.title(); } },
        { u"Stories title"_s, [](auto& c) { return c.readingStoriesTitle->text(); } },
        { u"Open in Readability setting"_s,
            [](auto& c) { return c.readbilityOnOpenCheckbox->text(); } },
        { u"Hide after open setting"_s, [](auto& c) { return c.hideOnOpenCheckbox->text(); } },
        { u"Show images"_s, [](auto& c) { return c.imagesCheckbox->text(); } },
        { u"Show buttons"_s, [](auto& c) { return c.buttonsCheckbox->text(); } },
        { u"Show buttons explanation"_s,
            [](auto& c) { return c.buttonsExplanationTitle->text(); } },
        { u"Stories shown title"_s, [](auto& c) { return c.numberOfStoriesTitle->text(); } },
        { u"Feedback title"_s, [](auto& c) { return c.feedbackTitle->text(); } },
        { u"Send feedback button"_s, [](auto& c) { return c.feedbackButton->text(); } },
        { u"Rate button"_s, [](auto& c) { return c.rateButton->text(); } },
        { u"Rate message"_s, [](auto& c) { return c.reviewsLabel->text(); } },
        { u"About us title"_s, [](auto& c) { return c.aboutUsTitle->text(); } },
        { u"Velmora website button"_s, [](auto& c) { return c.velmoraWebsiteButton->text(); } },
        { u"Tickerly website button"_s, [](auto& c) { return c.tickerlyWebsiteButton->text(); } },
        { u"Privacy button"_s, [](auto& c) { return c.privacyButton->text(); } },
        { u"Tickerly iOS button"_s, [](auto& c) { return c.tickerlyiOSButton->text(); } },
    };
    QStringList keys;
    for (const auto& text : texts)
        keys.append(text.first);
    const Bundle previous = Bundle::mainBundle();
    auto expectTexts = [&](const PreferencesViewController& c, const QString& mark) {
        for (const auto& [key, read] : texts)
            EXPECT_EQ(read(c), mark + u": "_s + key);
        EXPECT_EQ(shown->window()->windowTitle(), mark + u": Preferences title"_s);
    };

    Bundle::setMainBundle(Bundle(markedBundle(u"first"_s, keys)));
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    expectTexts(*c, u"first"_s);
    const QString version = c->versionLabel->text();

    shown->window()->hide();
    Bundle::setMainBundle(Bundle(markedBundle(u"second"_s, keys)));
    shown->showWindow(nullptr);
    expectTexts(*c, u"second"_s);
    // Neither the version nor the pop-up's numbers are texts of the table.
    EXPECT_EQ(c->versionLabel->text(), version);
    EXPECT_EQ(c->numberOfStoriesButton->itemText(1), u"5"_s);
    Bundle::setMainBundle(previous);
}

TEST_F(PreferencesWindow, EachLinkButtonOpensItsAddressAndOnlyThat)
{
    // The application's own information names no store listing: those buttons are not offered.
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->rateButton->isHidden());
    EXPECT_TRUE(c->reviewsLabel->isHidden());
    EXPECT_TRUE(c->tickerlyiOSButton->isHidden());
    for (QAbstractButton* button : { c->velmoraWebsiteButton.data(),
             c->tickerlyWebsiteButton.data(), c->privacyButton.data(), c->feedbackButton.data() }) {
        EXPECT_FALSE(button->isHidden());
        click(button);
    }
    EXPECT_EQ(opened,
        (QStringList { u"http://velmora.app/"_s, u"http://tickerly.app/"_s,
            u"http://tickerly.app/privacy/"_s, u"mailto:support@velmora.app"_s }));
    // Buttons write no setting.
    EXPECT_EQ(storedSettings(), u"0 0 5 0 1 1"_s);

    // An address that is no URL opens nothing.
    PreferencesViewController::Links broken;
    broken.privacy = u"http://tickerly.app/privacy policy/"_s;
    broken.feedback = u"mailto:<support>"_s;
    PreferencesViewController::setLinks(broken);
    opened.clear();
    click(c->privacyButton);
    click(c->feedbackButton);
    click(c->tickerlyWebsiteButton);
    EXPECT_EQ(opened, QStringList { u"http://tickerly.app/"_s });
}

TEST_F(PreferencesWindow, OffersTheStoreListingsThatTheApplicationsInformationNames)
{
    const Bundle previous = Bundle::mainBundle();
    const QString root = markedBundle(u"store"_s, {});
    QFile info(root + u"/Info.json"_s);
    ASSERT_TRUE(info.open(QIODevice::WriteOnly));
    info.write(R"({ "Localization file": "Interface", "App Store identifier": "123456789",
                    "Phone app App Store identifier": "987654321" })");
    info.close();
    Bundle::setMainBundle(Bundle(root));
    PreferencesViewController::setLinks({});
    PreferencesViewController* c = open();
    Bundle::setMainBundle(previous);
    ASSERT_TRUE(c);
    for (const QWidget* offered : { static_cast<QWidget*>(c->rateButton.data()),
             static_cast<QWidget*>(c->reviewsLabel.data()),
             static_cast<QWidget*>(c->tickerlyiOSButton.data()) })
        EXPECT_FALSE(offered->isHidden());
    click(c->rateButton);
    click(c->tickerlyiOSButton);
    EXPECT_EQ(opened,
        (QStringList { u"http://itunes.apple.com/app/id123456789"_s,
            u"https://itunes.apple.com/us/app/tickerly/id987654321"_s }));
}

TEST_F(PreferencesWindow, Screenshot)
{
    (void)Preferences().setHideOnOpen(true);
    PreferencesViewController* c = open();
    ASSERT_TRUE(c);
    TopLevelWindow* window = shown->window();
    // Nothing is cut off: the window is as tall as its content needs.
    EXPECT_GE(window->height(), window->layout()->totalHeightForWidth(window->width()));
    QDir screenshots(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    screenshots.mkpath(u"."_s);
    EXPECT_TRUE(window->grab().save(screenshots.filePath(u"preferences.png"_s)));
}

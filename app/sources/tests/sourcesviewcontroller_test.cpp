#include "app/shell/FlatButton.h"
#include "app/sources/IntroductionView.h"
#include "app/sources/NoFeedsView.h"
#include "app/sources/SourcesScene.h"
#include "app/sources/SourcesView.h"
#include "app/sources/SourcesViewController.h"
#include "app/sources/tests/SourcesTesting.h"
#include "data/model/Shared.h"
#include "data/model/SourceIconData.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/foundation/base/DistributedNotificationCenter.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "platform/foundation/store/UserDefaultsTesting.h"
#include "platform/foundation/store/tests/StoreTestSupport.h"
#include "storylist/ImageView.h"
#include "testsupport/LoopbackServer.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;
using namespace SourcesTesting;

namespace {

// A square icon: the title's first letter on a colour.
QImage letterIcon(const QString& title, const QColor& colour)
{
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    QPainter painter(&image);
    QFont font;
    font.setPixelSize(56);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, title.left(1));
    return image;
}

// The opacity drawn now (a fade under way included).
double shownOpacity(QWidget* view)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

class SourcesList : public testing::Test {
protected:
    void SetUp() override
    {
        previousDuration = TableView::defaultAnimationDuration();
        TableView::setDefaultAnimationDuration(0);
    }
    void TearDown() override
    {
        controller.reset();
        TableView::setDefaultAnimationDuration(previousDuration);
    }

    // Loads the scene's controller in a shown window of the default size.
    void load()
    {
        controller = makeSourcesViewController();
        window = std::make_unique<QWidget>();
        auto* fill = new QVBoxLayout(window.get());
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(controller->view());
        window->resize(600, 680);
        controller->viewWillAppear();
        window->show();
        TestSupport::processEvents();
        AppKit::layoutSubtreeIfNeeded(controller->view());
    }

    // The five sources listed, then another program holding the store (it says "holding").
    std::unique_ptr<QProcess> loadThenHoldTheStore()
    {
        (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
        store(fiveSources());
        load();
        return StoreTest::startHelper(
            { u"hold"_s, sharedDefaults()->suiteName(), u"other"_s, u"x"_s });
    }

    SourceTableViewCell* cellAt(int row) const
    {
        return dynamic_cast<SourceTableViewCell*>(controller->tableView()->viewAtRow(row));
    }

    void pressRemove(SourceTableViewCell* cell)
    {
        FlatButton* remove = cell->contentView()->remove();
        QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    }

    static QStringList storedTitles()
    {
        QStringList titles;
        for (const auto& s : SourcesData().sources())
            titles << s->title();
        return titles;
    }

    int previousDuration = 0;
    VirtualTime time;
    SoundRecorder sounds;
    std::unique_ptr<SourcesViewController> controller;
    std::unique_ptr<QWidget> window;
};

} // namespace

TEST_F(SourcesList, ShowsTheInstallationHelpOnTheFirstLoadOnlyAndTogglesIt)
{
    load();
    IntroductionView* help = controller->installationView();
    ASSERT_TRUE(help);
    EXPECT_FALSE(controller->installationViewHidden());
    EXPECT_TRUE(sharedDefaults()->boolean(QString::fromUtf16(installationShownKey)));
    const int viewHeight = controller->view()->height();
    const double helpHeight = controller->installationViewHeight()->constant();
    EXPECT_EQ(help->geometry().bottom() + 1, viewHeight);
    EXPECT_EQ(help->title()->text(), u"Add Tickerly to your widget panel"_s);
    EXPECT_EQ(help->doneButton()->title(), u"Done"_s);

    // The done button hides it: a slide of half a second, and no pop-in.
    const auto stepScales = [help] {
        return QList<double> { help->step1()->scale(), help->step2()->scale(),
            help->step3()->scale() };
    };
    time.advance(3); // the pop-in started when the help woke
    ASSERT_EQ(stepScales(), (QList<double> { 1, 1, 1 }));
    Button* done = help->doneButton();
    QTest::mouseClick(done, Qt::LeftButton, {}, done->rect().center());
    time.advance(0.25);
    EXPECT_GT(help->geometry().top(), viewHeight - helpHeight);
    EXPECT_LT(help->geometry().top(), viewHeight);
    time.advance(0.3);
    EXPECT_TRUE(controller->installationViewHidden());
    EXPECT_EQ(help->geometry().top(), viewHeight);
    EXPECT_EQ(controller->tableView()->parentWidget()->parentWidget()->geometry().bottom() + 1,
        viewHeight)
        << "the table takes the room";
    EXPECT_EQ(stepScales(), (QList<double> { 1, 1, 1 }));

    // Showing shrinks the steps first, slides in, then pops them at 0.5, 1.0 and 1.5 s.
    controller->toggleInstallationView();
    EXPECT_EQ(stepScales(), (QList<double> { 0.01, 0.01, 0.01 }));
    time.advance(0.52);
    EXPECT_FALSE(controller->installationViewHidden());
    EXPECT_EQ(help->geometry().bottom() + 1, viewHeight);
    time.advance(0.6); // 0.62 s after the slide: step 1 grows, step 2 waits
    EXPECT_GT(help->step1()->scale(), 0.01);
    EXPECT_LT(help->step1()->scale(), 1.1);
    EXPECT_DOUBLE_EQ(help->step2()->scale(), 0.01);
    time.advance(0.25); // 0.87 s: step 1 settles back
    EXPECT_GT(help->step1()->scale(), 1.0);
    EXPECT_LE(help->step1()->scale(), 1.1);
    time.advance(1.5);
    EXPECT_EQ(stepScales(), (QList<double> { 1, 1, 1 }));
    saveScreenshot(window.get(), u"sources-installation.png"_s);

    // A later load starts with the help out of sight, without a slide.
    controller.reset();
    window.reset();
    load();
    EXPECT_TRUE(controller->installationViewHidden());
    EXPECT_EQ(controller->installationViewBottom()->constant(),
        -controller->installationViewHeight()->constant());
    EXPECT_EQ(controller->installationView()->geometry().top(), controller->view()->height());
}

TEST_F(SourcesList, TheInstallationStepsKeepTheirProportionsAndStayInTheirBandWhenMaximised)
{
    load();
    IntroductionView* help = controller->installationView();
    ASSERT_TRUE(help);
    for (const QSize& size : { QSize(600, 680), QSize(1272, 860) }) {
        window->resize(size);
        TestSupport::processEvents();
        AppKit::layoutSubtreeIfNeeded(controller->view());
        for (StepImageView* step : { help->step1(), help->step2(), help->step3() }) {
            const QRect frame = step->geometry();
            EXPECT_TRUE(help->rect().contains(frame))
                << "at " << size.width() << " wide a step lies at " << frame.y() << "+"
                << frame.height() << " in a band " << help->height() << " high";
            if (size.width() == 600) {
                EXPECT_NEAR(frame.height(), frame.width() * 180.0 / 280.0, 1.0);
            }
        }
    }
}

TEST_F(SourcesList, FadesTheWelcomeScreenInAndOutWithTheFirstAndLastSource)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    load();
    NoFeedsParentView* welcome = controller->welcomeView();
    ImageView* wave = welcome->contentView()->imageView();
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_DOUBLE_EQ(AppKit::opacity(welcome), 1.0);
    EXPECT_TRUE(wave->sequenceName()->startsWith(u"wave "_s));
    saveScreenshot(window.get(), u"sources-welcome.png"_s);

    SourcesData data;
    (void)data.addSource(source(u"First"_s, u"https://first.example/"_s));
    TestSupport::processEvents();
    time.advance(0.25);
    EXPECT_TRUE(welcome->isVisible()) << "fading out";
    EXPECT_TRUE(welcome->testAttribute(Qt::WA_TransparentForMouseEvents))
        << "the new row under it takes the clicks";
    EXPECT_GT(shownOpacity(welcome), 0.0);
    EXPECT_LT(shownOpacity(welcome), 1.0);
    time.advance(0.3);
    EXPECT_FALSE(welcome->isVisible());
    EXPECT_EQ(wave->sequenceName(), u"none"_s) << "no wave while hidden";
    const std::size_t pending = time.clock.pendingCount();
    time.advance(1);
    EXPECT_LE(time.clock.pendingCount(), pending);

    (void)data.removeSource(*source(u"First"_s, u"https://first.example/"_s));
    TestSupport::processEvents();
    EXPECT_TRUE(welcome->isVisible()) << "shown at once, then faded in";
    EXPECT_LT(shownOpacity(welcome), 1.0);
    EXPECT_TRUE(wave->sequenceName()->startsWith(u"wave "_s));
    time.advance(0.55);
    EXPECT_DOUBLE_EQ(shownOpacity(welcome), 1.0);
    EXPECT_TRUE(welcome->isVisible());
}

TEST_F(SourcesList, OpeningWithSourcesLeavesTheTableClickable)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    const QList<QColor> colours { QColor(0x1d, 0x4e, 0x89), QColor(0xe0, 0x7a, 0x1f),
        QColor(0x2a, 0x9d, 0x8f), QColor(0x8e, 0x44, 0xad), QColor(0x3a, 0x7d, 0x44) };
    for (int i = 0; i < 4; ++i)
        SourceIconData::setIconForSourceLink(
            fiveSources()[i]->link(), letterIcon(fiveSources()[i]->title(), colours[i]));
    QList<std::shared_ptr<Source>> sources = fiveSources();
    sources[4]->noIconFound = false; // still looking: the spinner turns
    store(sources);
    TestSupport::LoopbackServer server;
    TestSupport::ScriptedReply slow = TestSupport::bodyReply(QByteArray(), 404);
    slow.delayMs = 1500;
    server.reply(u"/"_s, slow);
    UrlSessionTesting::mapToLoopback(u"http"_s, u"letters.example"_s, 80, server.port());
    load();
    NoFeedsParentView* welcome = controller->welcomeView();
    EXPECT_TRUE(welcome->isHidden());
    EXPECT_DOUBLE_EQ(shownOpacity(welcome), 0.0);
    EXPECT_FALSE(welcome->hasContentView()) << "nothing of the welcome screen is made";
    EXPECT_EQ(shownNames(*controller->tableView()).size(), 5);
    EXPECT_TRUE(cellAt(0)->contentView()->data()->icon);
    EXPECT_TRUE(cellAt(4)->contentView()->data()->loadingIcon);
    controller->view()->window()->setFocus(); // no focus ring in the picture

    // What lies under the first row's remove button is that button.
    FlatButton* remove = cellAt(0)->contentView()->remove();
    const QPoint at = remove->mapTo(controller->view(), remove->rect().center());
    QWidget* hit = controller->view()->childAt(at);
    EXPECT_TRUE(hit == remove || remove->isAncestorOf(hit));
    saveScreenshot(window.get(), u"sources-list.png"_s);

    // The sweep gives up on the source it could not find an icon for, and the spinner stops.
    EXPECT_TRUE(
        TestSupport::waitFor([&] { return !cellAt(4)->contentView()->data()->loadingIcon; }));
    UrlSessionTesting::removeLoopbackMappings();
    UrlSessionTesting::closeIdleConnections();
}

TEST_F(SourcesList, RemovingTheLastSourceMakesAndShowsTheWelcomeScreenItNeverMadeBefore)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    store({ source(u"Only"_s, u"https://only.example/"_s) });
    load();
    NoFeedsParentView* welcome = controller->welcomeView();
    time.advance(1);
    EXPECT_TRUE(welcome->isHidden());
    EXPECT_FALSE(welcome->hasContentView());
    EXPECT_TRUE(welcome->findChildren<QWidget*>().isEmpty());
    EXPECT_FALSE(keptImageNames().contains(u"wave mask"_s)) << "nor its mask";

    pressRemove(cellAt(0));
    TestSupport::processEvents();
    time.advance(0.55);
    EXPECT_TRUE(storedTitles().isEmpty());
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_DOUBLE_EQ(shownOpacity(welcome), 1.0);
    ASSERT_TRUE(welcome->hasContentView());
    NoFeedsView* content = welcome->contentView();
    EXPECT_TRUE(content->isVisible());
    ImageView* wave = content->imageView();
    EXPECT_TRUE(wave->sequenceName()->startsWith(u"wave "_s));
    AppKit::layoutSubtreeIfNeeded(controller->view());
    EXPECT_EQ(wave->size(), QSize(300, 300));
    EXPECT_NEAR(content->mapTo(welcome, wave->geometry().center()).x(), welcome->width() / 2, 1);
    EXPECT_NEAR(content->geometry().center().y(), welcome->height() / 2, 1);

    const QImage shot = welcome->grab().toImage();
    const qreal dpr = shot.devicePixelRatio();
    const QPoint middle = content->mapTo(welcome, wave->geometry().center()) * dpr;
    EXPECT_NE(shot.pixelColor(middle), QColor(250, 250, 250)) << "the wave shows";
    EXPECT_EQ(shot.pixelColor(QPoint(5, 5) * dpr), QColor(250, 250, 250));
    saveScreenshot(window.get(), u"sources-welcome-after-last-removal.png"_s);
}

TEST_F(SourcesList, RemovesThePressedSourceOnlyAndAlwaysPlaysTheSound)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    store(fiveSources());
    load();

    pressRemove(cellAt(1));
    TestSupport::processEvents();
    EXPECT_EQ(storedTitles(),
        (QStringList {
            u"The Daily Harbour"_s, u"Tech & Tides"_s, u"Market Notes"_s, u"Garden Letters"_s }));
    EXPECT_EQ(shownNames(*controller->tableView()), storedTitles());
    EXPECT_EQ(sounds.played, QStringList { u"Remove feed.wav"_s });

    // The store moved on before the table heard of it: the row pressed still names its source.
    SourceTableViewCell* tides = cellAt(1);
    (void)SourcesData().removeSource(*fiveSources()[0]);
    pressRemove(tides);
    TestSupport::processEvents();
    EXPECT_EQ(storedTitles(), (QStringList { u"Market Notes"_s, u"Garden Letters"_s }));

    // A row whose source is gone from the store removes nothing else.
    SourceTableViewCell* notes = cellAt(0);
    (void)SourcesData().removeSource(*fiveSources()[3]);
    pressRemove(notes);
    TestSupport::processEvents();
    EXPECT_EQ(storedTitles(), QStringList { u"Garden Letters"_s });
    EXPECT_EQ(sounds.played.size(), 3);
}

// With no room on the disk for the journal, a removal made while another program holds the store
// shows, the banner says it is not saved, and it is written once the store frees.
TEST_F(SourcesList, ARemovalTheJournalCannotTakeShowsAndTheBannerSaysItIsNotSaved)
{
    auto holder = loadThenHoldTheStore();
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
    UserDefaultsTesting::failJournalWrites(true);
    const auto journalBack = qScopeGuard([] { UserDefaultsTesting::failJournalWrites(false); });

    pressRemove(cellAt(1));
    TestSupport::processEvents();
    SourcesView* view = controller->contentView();
    EXPECT_TRUE(view->errorVisible());
    EXPECT_EQ(view->errorLabel()->text(), u"The change could not be saved"_s);
    const QStringList left { u"The Daily Harbour"_s, u"Tech & Tides"_s, u"Market Notes"_s,
        u"Garden Letters"_s };
    EXPECT_EQ(shownNames(*controller->tableView()), left);
    EXPECT_EQ(sounds.played, QStringList { u"Remove feed.wav"_s });

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    EXPECT_TRUE(sharedDefaults()->retryKeptChanges(std::chrono::seconds(30)));
    EXPECT_EQ(storedTitles(), left);
}

// A run of the application quit with a removal kept while another program held the store; this
// run's list shows the source still. The other program writes the removal when the store frees:
// the list shows what the store holds now.
TEST_F(SourcesList, ARemovalLeftByARunThatEndedAndWrittenByTheOtherProgramLeavesTheList)
{
    if (!DistributedNotificationCenter::defaultCenter().isAvailable())
        GTEST_SKIP() << "no session bus";
    auto holder = loadThenHoldTheStore();
    ASSERT_EQ(StoreTest::readLine(*holder), u"holding"_s);
    QProcess quitting;
    quitting.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quitting.start(TestSupport::helperPath(u"data_helper"_s),
        { u"remove-then-quit"_s, fiveSources()[1]->link() });
    ASSERT_TRUE(StoreTest::readLine(quitting).startsWith(u"kept"_s));
    ASSERT_EQ(StoreTest::readLine(quitting), u"left"_s);
    ASSERT_TRUE(StoreTest::finishedOk(quitting));
    ASSERT_EQ(shownNames(*controller->tableView()).size(), 5);

    holder->write("go\n");
    ASSERT_TRUE(StoreTest::finishedOk(*holder));
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(TestSupport::helperPath(u"data_helper"_s), { u"replay"_s });
    ASSERT_TRUE(StoreTest::finishedOk(other));
    const QStringList left { u"The Daily Harbour"_s, u"Tech & Tides"_s, u"Market Notes"_s,
        u"Garden Letters"_s };
    ASSERT_EQ(QString::fromUtf8(other.readAllStandardOutput().trimmed()), left.join(u','));
    EXPECT_TRUE(
        TestSupport::waitFor([&] { return shownNames(*controller->tableView()) == left; }, 30000))
        << shownNames(*controller->tableView()).join(u", "_s).toStdString();
}

TEST_F(SourcesList, ASecondPressWhileTheRowSlidesOutRemovesNothingMore)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    store(fiveSources());
    TableView::setDefaultAnimationDuration(400);
    load();
    SourceTableViewCell* cell = cellAt(2);
    pressRemove(cell);
    TestSupport::processEvents();
    ASSERT_EQ(controller->tableView()->rowForView(cell), -1);
    ASSERT_TRUE(controller->tableView()->isAnimating());
    pressRemove(cell);
    TestSupport::processEvents();
    EXPECT_EQ(storedTitles().size(), 4);
    EXPECT_FALSE(storedTitles().contains(u"Tech & Tides"_s));
    EXPECT_EQ(sounds.played.size(), 2);

    // Without a table nothing is removed; the sound still plays.
    SourceTableViewCell* first = cellAt(0);
    controller->setTableView(nullptr);
    controller->deletePressed(first);
    EXPECT_EQ(storedTitles().size(), 4);
    EXPECT_EQ(sounds.played.size(), 3);
}

TEST_F(SourcesList, TheIconSweepAtLoadEndsTheSpinnerOfASourceWithoutIcon)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    TestSupport::LoopbackServer server;
    UrlSessionTesting::mapToLoopback(u"http"_s, u"quiet.example"_s, 80, server.port());
    store({ source(u"Quiet"_s, u"http://quiet.example/feed"_s, true) });
    load();
    ASSERT_TRUE(cellAt(0));
    EXPECT_TRUE(TestSupport::waitFor(
        [&] { return cellAt(0) && !cellAt(0)->contentView()->data()->loadingIcon; }));
    EXPECT_GT(server.requests().size(), 0);
    EXPECT_TRUE(SourcesData().sources().at(0)->noIconFound);
    UrlSessionTesting::removeLoopbackMappings();
    UrlSessionTesting::closeIdleConnections();
}

TEST_F(SourcesList, TheBannerSlidesInAndLeavesThreeSecondsAfterEachShow)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    store(fiveSources());
    load();
    SourcesView* view = controller->contentView();
    ASSERT_TRUE(view);
    QLabel* banner = view->errorLabel();
    EXPECT_FALSE(view->errorVisible());
    EXPECT_EQ(banner->geometry(), QRect(0, -30, view->width(), 20));

    view->showError(u"No feed was found there"_s);
    EXPECT_EQ(banner->text(), u"No feed was found there"_s);
    EXPECT_TRUE(view->errorVisible());
    time.advance(0.15);
    EXPECT_GT(banner->y(), -30);
    EXPECT_LT(banner->y(), 0);
    time.advance(0.2);
    EXPECT_EQ(banner->y(), 0);
    saveScreenshot(window.get(), u"sources-banner.png"_s);

    // A second error a second later changes the text; the first show's hide still ends it.
    time.advance(0.65);
    view->showError(u"<i>Second</i>"_s);
    EXPECT_EQ(banner->text(), u"<i>Second</i>"_s);
    EXPECT_EQ(banner->textFormat(), Qt::PlainText);
    time.advance(1.99);
    EXPECT_TRUE(view->errorVisible());
    time.advance(0.02);
    EXPECT_FALSE(view->errorVisible());
    time.advance(0.2);
    EXPECT_GT(banner->y(), -30) << "sliding out over 0.4 s";
    time.advance(0.25);
    EXPECT_EQ(banner->y(), -30);
    time.advance(1.0);
    EXPECT_FALSE(view->errorVisible()) << "the second hide finds it hidden";

    view->setErrorVisible(true);
    EXPECT_EQ(view->errorTopConstraint()->constant(), 0);
    view->setErrorVisible(false);
    EXPECT_EQ(view->errorTopConstraint()->constant(), -30);
}

TEST_F(SourcesList, FailedIconSearchesEndEverySpinnerInOneWriteWithRowsAndScrollKept)
{
    (void)sharedDefaults()->set(QString::fromUtf16(installationShownKey), true);
    TestSupport::LoopbackServer server;
    // Every answer (a 404) waits until the rows have been looked at.
    std::promise<void> answer;
    server.replyOtherwise(
        [asked = answer.get_future().share()](const TestSupport::RecordedRequest&) {
            asked.wait();
            return std::optional<TestSupport::ScriptedReply>();
        });
    UrlSessionTesting::mapToLoopback(u"http"_s, u"quiet.example"_s, 80, server.port());
    bool answered = false;
    const auto unmap = qScopeGuard([&] {
        if (!answered)
            answer.set_value();
        UrlSessionTesting::removeLoopbackMappings();
        UrlSessionTesting::closeIdleConnections();
    });
    constexpr int count = 16;
    QList<std::shared_ptr<Source>> quiet;
    for (int i = 0; i < count; ++i)
        quiet << source(u"Quiet %1"_s.arg(i), u"http://feeds.quiet.example/%1"_s.arg(i), true);
    store(quiet);
    int writes = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        SourcesData::changeNotification(), nullptr, [&](const Notification&) { ++writes; });
    load();
    QScrollArea* scroll = nullptr;
    for (QWidget* w = controller->tableView(); w && !scroll; w = w->parentWidget())
        scroll = qobject_cast<QScrollArea*>(w);
    ASSERT_TRUE(scroll);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() / 2);
    TestSupport::processEvents();
    const int scrolled = scroll->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    QList<QPointer<SourceTableViewCell>> cells;
    for (int row = 0; row < count; ++row)
        cells << cellAt(row);
    ASSERT_TRUE(std::any_of(cells.begin(), cells.end(),
        [](const auto& c) { return c && c->contentView()->data()->loadingIcon; }));
    answered = true;
    answer.set_value();

    ASSERT_TRUE(TestSupport::waitFor(
        [&] {
            return std::none_of(cells.begin(), cells.end(),
                [](const auto& c) { return c && c->contentView()->data()->loadingIcon; });
        },
        30000));
    TestSupport::processEvents();
    for (int row = 0; row < count; ++row)
        EXPECT_EQ(cellAt(row), cells[row]) << "row " << row << " was made anew";
    EXPECT_EQ(scroll->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(writes, 1);
    for (const auto& s : SourcesData().sources())
        EXPECT_TRUE(s->noIconFound) << s->title().toStdString();
    saveScreenshot(window.get(), u"sources-no-icons-found.png"_s);
}

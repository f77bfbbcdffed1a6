#include "app/sources/AddButton.h"
#include "app/sources/PopularCollectionViewItem.h"
#include "app/sources/PopularPanel.h"
#include "data/discovery/TopFeedsSync.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourcesData.h"
#include "data/model/TopFeedsData.h"
#include "platform/appkit/CollectionView.h"
#include "platform/appkit/ImageNamed.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/base/MainQueue.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "storylist/ImageView.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kBoard = u"Popular test"_s;

std::shared_ptr<Source> source(const QString& title, const QString& link)
{
    return std::make_shared<Source>(title, link);
}

std::shared_ptr<TopFeedSource> feed(const QString& title, const QString& link, qint64 hits = 1)
{
    return std::make_shared<TopFeedSource>(hits, source(title, link));
}

QVariant variant(const std::shared_ptr<TopFeedSource>& feed) { return QVariant::fromValue(feed); }

QStringList titles(const QList<std::shared_ptr<Source>>& sources)
{
    QStringList out;
    for (const auto& s : sources)
        out << s->title();
    return out;
}

QImage squareIcon(const QColor& color)
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// The panel as the sources window shows it: the "Popular Window" scene of a storyboard.
class Panel : public ::testing::Test {
protected:
    void SetUp() override
    {
        Storyboard::registerStoryboard(kBoard, nullptr);
        registerPopularScenes(kBoard);
    }
    void TearDown() override { Storyboard::unregisterStoryboard(kBoard); }

    void open()
    {
        controller = controllerCast<WindowController>(
            Storyboard::named(kBoard)->instantiateController(popularWindowIdentifier));
        ASSERT_TRUE(controller);
        window = controller->window();
        content = qobject_cast<PopularViewController*>(controller->contentViewController());
        ASSERT_TRUE(content);
        window->show();
    }
    // Waits for the notifications of a store change to be handled.
    static void settle()
    {
        bool posted = false;
        MainQueue::dispatchAsync([&posted] { posted = true; });
        TestSupport::waitFor([&] { return posted; });
        TestSupport::processEvents();
    }
    PopularCollectionViewItem* item(int index) const
    {
        return qobject_cast<PopularCollectionViewItem*>(
            content->collectionView()->itemAtIndex(index));
    }

    std::shared_ptr<WindowController> controller;
    TopLevelWindow* window = nullptr;
    PopularViewController* content = nullptr;
};

} // namespace

TEST(PopularTransformers, TellAPopularFeedsIconAndWhetherItsSourceIsStored)
{
    const QImage placeholder = imageNamed(u"story-placeholder"_s);
    ASSERT_FALSE(placeholder.isNull());
    const auto planet = feed(u"Planet"_s, u"http://127.0.0.1:9/planet"_s);
    const auto moon = feed(u"Moon"_s, u"http://127.0.0.1:9/moon"_s);
    const IconForSourceTransformer icon;
    const SourceIsAddedTransformer added;

    // Nothing stored: the placeholder, and not added.
    EXPECT_EQ(icon.transformedValue(variant(planet)), placeholder);
    EXPECT_EQ(added.transformedValue(variant(planet)), false);
    // What is no popular feed gives the placeholder and no added value at all.
    for (const QVariant& other :
        { QVariant(), QVariant::fromValue(planet->source()), QVariant(u"Planet"_s) }) {
        EXPECT_EQ(icon.transformedValue(other), placeholder);
        EXPECT_EQ(added.transformedValue(other), std::nullopt);
    }

    SourceIconData::setIconForSource(planet->source(), squareIcon(Qt::blue));
    const QImage stored = icon.transformedValue(variant(planet));
    EXPECT_FALSE(stored.isNull());
    EXPECT_NE(stored, placeholder);
    EXPECT_EQ(icon.transformedValue(variant(moon)), placeholder);

    // The feed's address stored under another title is the feed's source all the same.
    (void)SourcesData().addSource(source(u"Planet (old name)"_s, planet->source()->link()));
    EXPECT_EQ(added.transformedValue(variant(planet)), true);
    EXPECT_EQ(added.transformedValue(variant(moon)), false);
}

TEST_F(Panel, TurnsItsSpinnerUntilTheFirstListOfPopularFeedsArrivesThenShowsThemInOrder)
{
    open();
    EXPECT_EQ(window->size(), QSize(520, 250));
    EXPECT_FALSE(PopularWindow(QRect()).canBecomeKeyWindow());
    EXPECT_EQ(content->collectionView()->numberOfItems(), 0);
    EXPECT_TRUE(content->spinner()->isAnimating());

    // A title from a feed is text, never markup.
    (void)TopFeedsData().setTopFeeds({ feed(u"<b>Planet</b>"_s, u"http://127.0.0.1:9/planet"_s),
        feed(u"Moon"_s, u"http://127.0.0.1:9/moon"_s),
        feed(u"Sun"_s, u"http://127.0.0.1:9/sun"_s) });
    EXPECT_EQ(content->collectionView()->numberOfItems(), 0);
    NotificationCenter::defaultCenter().post(TopFeedsSync::didUpdateNotification());
    ASSERT_EQ(content->collectionView()->numberOfItems(), 3);
    EXPECT_FALSE(content->spinner()->isAnimating());
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
        shown << item(i)->titleLabel()->stringValue();
        EXPECT_EQ(item(i)->feed(), content->contents()[i]);
        EXPECT_FALSE(item(i)->addButton()->added());
    }
    EXPECT_EQ(shown, QStringList({ u"<b>Planet</b>"_s, u"Moon"_s, u"Sun"_s }));
    // Two columns under the line.
    EXPECT_EQ(content->collectionView()->frameForItemAtIndex(1).top(),
        content->collectionView()->frameForItemAtIndex(0).top());
    EXPECT_GE(content->collectionView()->mapTo(window, QPoint(0, 0)).y(), 37);

    // The list emptied on the server's side: the spinner turns again.
    (void)TopFeedsData().setTopFeeds({});
    NotificationCenter::defaultCenter().post(TopFeedsSync::didUpdateNotification());
    EXPECT_EQ(content->collectionView()->numberOfItems(), 0);
    EXPECT_TRUE(content->spinner()->isAnimating());
}

TEST_F(Panel, AddButtonsTakeFeedsInAndOutOfTheListAndFollowChangesMadeElsewhere)
{
    const auto planet = feed(u"Planet"_s, u"http://127.0.0.1:9/planet"_s);
    const auto moon = feed(u"Moon"_s, u"http://127.0.0.1:9/moon"_s);
    (void)SourcesData().addSource(source(u"Earlier"_s, u"http://127.0.0.1:9/earlier"_s));
    (void)SourcesData().addSource(moon->source());
    (void)TopFeedsData().setTopFeeds({ planet, moon });
    settle();
    open();
    ASSERT_EQ(content->collectionView()->numberOfItems(), 2);
    EXPECT_FALSE(item(0)->addButton()->added());
    EXPECT_TRUE(item(1)->addButton()->added());
    EXPECT_EQ(item(1)->addButton()->label()->text(), u"Fjern"_s);

    const auto click = [this](int index) {
        AddButton* button = item(index)->addButton();
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        settle();
    };
    click(0);
    EXPECT_EQ(
        titles(SourcesData().sources()), QStringList({ u"Earlier"_s, u"Moon"_s, u"Planet"_s }));
    EXPECT_TRUE(item(0)->addButton()->added());
    click(1);
    EXPECT_EQ(titles(SourcesData().sources()), QStringList({ u"Earlier"_s, u"Planet"_s }));
    EXPECT_FALSE(item(1)->addButton()->added());
    // Back in, at the end.
    click(1);
    EXPECT_EQ(
        titles(SourcesData().sources()), QStringList({ u"Earlier"_s, u"Planet"_s, u"Moon"_s }));
    EXPECT_TRUE(item(1)->addButton()->added());

    // Removed from the list elsewhere (the sources table): the button follows.
    (void)SourcesData().removeSource(*planet->source());
    settle();
    EXPECT_FALSE(item(0)->addButton()->added());
    EXPECT_TRUE(item(1)->addButton()->added());

    // An item whose object is no popular feed changes nothing and keeps its button as it was.
    PopularCollectionViewItem stray;
    stray.setRepresentedObject(QVariant::fromValue(moon->source()));
    stray.view();
    stray.addButton()->setAdded(true);
    stray.setRepresentedObject(QVariant::fromValue(planet->source()));
    EXPECT_TRUE(stray.addButton()->added());
    EXPECT_EQ(stray.iconView()->image(), imageNamed(u"story-placeholder"_s));
    stray.add();
    settle();
    EXPECT_EQ(titles(SourcesData().sources()), QStringList({ u"Earlier"_s, u"Moon"_s }));
}

TEST_F(Panel, AnIconUpdateRebuildsOnlyTheFirstItemOfItsSourceAndReloadsWhenTheListMoved)
{
    const auto shared = source(u"Shared"_s, u"http://127.0.0.1:9/shared"_s);
    (void)TopFeedsData().setTopFeeds({ feed(u"Alone"_s, u"http://127.0.0.1:9/alone"_s),
        std::make_shared<TopFeedSource>(5, shared), std::make_shared<TopFeedSource>(3, shared) });
    open();
    ASSERT_EQ(content->collectionView()->numberOfItems(), 3);
    const auto before = content->contents();
    QList<CollectionViewItem*> items;
    for (int i = 0; i < 3; ++i)
        items << item(i);

    SourceIconData::setIconForSource(shared, squareIcon(Qt::red));
    settle();
    const auto after = content->contents();
    EXPECT_EQ(after[0], before[0]);
    EXPECT_NE(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
    EXPECT_EQ(item(0), items[0]);
    EXPECT_NE(item(1), items[1]);
    EXPECT_EQ(item(2), items[2]);
    EXPECT_NE(item(1)->iconView()->image(), imageNamed(u"story-placeholder"_s));

    // An icon for a source no feed of the panel has: nothing changes.
    SourceIconData::setIconForSource(
        source(u"Other"_s, u"http://127.0.0.1:9/other"_s), squareIcon(Qt::green));
    settle();
    EXPECT_EQ(content->contents(), after);

    // The stored list moved on without a notification of its own: the position found in the
    // panel holds another feed there, so the panel shows the stored list rather than mixing them.
    (void)TopFeedsData().setTopFeeds({ std::make_shared<TopFeedSource>(5, shared) });
    SourceIconData::setIconForSource(
        source(u"Alone"_s, u"http://127.0.0.1:9/alone"_s), squareIcon(Qt::green));
    settle();
    ASSERT_EQ(content->contents().size(), 1);
    EXPECT_EQ(content->contents()[0]->source()->title(), u"Shared"_s);
}

TEST_F(Panel, DrawsItsLineUnderTheBandAndTakesNoFocus)
{
    EXPECT_EQ(PopularView::separatorRect(QSize(520, 250)), QRect(10, 36, 500, 1));
    EXPECT_FALSE(PopularCollectionCell::animatesKey(u"alphaValue"));
    EXPECT_TRUE(PopularCollectionCell::animatesKey(u"alphavalue"));
    EXPECT_TRUE(PopularCollectionCell::animatesKey(u"frameOrigin"));

    (void)TopFeedsData().setTopFeeds({ feed(u"Planet"_s, u"http://127.0.0.1:9/planet"_s) });
    open();
    const QImage image = content->view()->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(260, 36)), QColor(128, 128, 128));
    EXPECT_EQ(QColor(image.pixel(260, 35)), QColor(Qt::white));
    EXPECT_EQ(QColor(image.pixel(5, 36)), QColor(Qt::white));
    for (QWidget* widget : window->findChildren<QWidget*>())
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << widget->metaObject()->className();
}

TEST_F(Panel, WithoutAnItemPrototypeShowsNoItemsButKeepsItsContents)
{
    Storyboard::registerScene(kBoard, popularItemPrototypeIdentifier,
        [](const Storyboard&) { return makeController<QObject>(); });
    (void)TopFeedsData().setTopFeeds({ feed(u"Planet"_s, u"http://127.0.0.1:9/planet"_s) });
    open();
    EXPECT_FALSE(content->collectionView()->hasItemPrototype());
    EXPECT_EQ(content->contents().size(), 1);
    EXPECT_EQ(content->collectionView()->itemAtIndex(0), nullptr);
}

TEST_F(Panel, Screenshot)
{
    (void)TopFeedsData().setTopFeeds({ feed(u"Planet news"_s, u"http://127.0.0.1:9/planet"_s),
        feed(u"The Moon Daily with a very long name indeed"_s, u"http://127.0.0.1:9/moon"_s),
        feed(u"Sun"_s, u"http://127.0.0.1:9/sun"_s) });
    (void)SourcesData().addSource(source(u"Sun"_s, u"http://127.0.0.1:9/sun"_s));
    settle();
    open();
    const QImage image = window->grab().toImage();
    EXPECT_EQ(image.size(), QSize(520, 250));
    // Every feed's row is painted where its item lies, and only the stored one offers removal.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(item(i));
        const QRect frame(item(i)->view()->mapTo(window, QPoint(0, 0)), item(i)->view()->size());
        EXPECT_TRUE(image.rect().contains(frame)) << i;
        EXPECT_GT(TestSupport::coloursIn(image, frame), 2) << i;
        EXPECT_EQ(item(i)->addButton()->added(), i == 2) << i;
    }
    QDir().mkpath(QStringLiteral(TICKERLY_SCREENSHOT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(TICKERLY_SCREENSHOT_DIR "/popular-panel.png")));
}

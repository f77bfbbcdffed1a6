#include "app/sources/PopularPanel.h"

#include "app/shell/Style.h"
#include "app/sources/PopularCollectionViewItem.h"
#include "data/discovery/TopFeedsSync.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourcesData.h"
#include "data/model/TopFeedsData.h"
#include "data/sync/Localization.h"
#include "platform/appkit/CollectionView.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/Storyboard.h"
#include "platform/foundation/base/NotificationCenter.h"
#include "storylist/ViewKit.h"

#include <QEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kBandHeight = 36;

void takeNoFocus(QWidget* root)
{
    root->setFocusPolicy(Qt::NoFocus);
    for (QWidget* child : root->findChildren<QWidget*>())
        child->setFocusPolicy(Qt::NoFocus);
}

QVariantList variants(const PopularViewController::FeedList& feeds)
{
    QVariantList list;
    list.reserve(feeds.size());
    for (const auto& feed : feeds)
        list.append(QVariant::fromValue(feed));
    return list;
}

// The panel's content: a heading in the band above the line, the feeds below it in two
// columns, and the progress indicator in their middle while there are none.
std::unique_ptr<PopularViewController> makePopularViewController()
{
    auto controller = std::make_unique<PopularViewController>();
    auto* view = new PopularView;
    QFont headingFont = Style::controlFont();
    headingFont.setBold(true);
    auto* heading = initTextField(~u"Popular feeds title"_s, Style::white(0.3), headingFont);
    heading->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto* collection = new CollectionView;
    collection->setItemSize(QSize(245, 44));
    collection->setSpacing(6);
    collection->setMaxNumberOfColumns(2);
    scroll->setWidget(collection);
    // The panel's white shows through.
    collection->setAutoFillBackground(false);
    auto* spinner = new ProgressIndicator;
    spinner->setColor(Style::white(0.5));
    const LayoutViews views { { u"heading"_s, heading }, { u"scroll"_s, scroll },
        { u"spinner"_s, spinner } };
    addSubviews(view, views.values());
    constraints(
        view, u"|[heading(%1)]-1-[scroll]|"_s.arg(kBandHeight), u"|-12-[heading]-12-|"_s, views);
    constraints(view, std::nullopt, u"|-10-[scroll]-10-|"_s, views);
    constraint(view, spinner, LayoutAttribute::CenterX, LayoutRelation::Equal, scroll,
        LayoutAttribute::CenterX);
    constraint(view, spinner, LayoutAttribute::CenterY, LayoutRelation::Equal, scroll,
        LayoutAttribute::CenterY);
    constraints(view, u"[spinner(16)]"_s, u"[spinner(16)]"_s, views);
    takeNoFocus(view);
    controller->setCollectionView(collection);
    controller->setSpinner(spinner);
    controller->setView(view);
    return controller;
}

} // namespace

PopularWindow::PopularWindow(const QRect& contentRect)
    : TopLevelWindow(Settings { contentRect, QString(), Borderless })
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // A hairline border sets the white panel off from the white list under it.
    layout()->setContentsMargins(1, 1, 1, 1);
    QPalette border = palette();
    border.setColor(QPalette::Window, Style::white(0.75));
    setPalette(border);
    setAutoFillBackground(true);
}

bool PopularWindow::event(QEvent* event)
{
    // Whatever came in since it was made (items of the feeds) takes no focus either.
    if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest)
        takeNoFocus(this);
    return TopLevelWindow::event(event);
}

PopularView::PopularView(QWidget* parent)
    : QWidget(parent)
{
}

QRect PopularView::separatorRect(const QSize& size)
{
    return QRect(10, kBandHeight, size.width() - 20, 1);
}

void PopularView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Style::white(1.0));
    painter.fillRect(separatorRect(size()), Style::white(0.5));
}

PopularCollectionCell::PopularCollectionCell()
    : QWidget(nullptr)
{
    setup();
}

bool PopularCollectionCell::animatesKey(QStringView key) { return key != u"alphaValue"; }

void PopularCollectionCell::setup() { }

PopularViewController::PopularViewController(QObject* parent)
    : ViewController(parent)
{
}

PopularViewController::~PopularViewController() = default;

void PopularViewController::setContents(const FeedList& contents)
{
    m_contents = contents;
    if (m_collectionView)
        m_collectionView->setContent(variants(m_contents));
}

void PopularViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    if (m_collectionView) {
        const auto board = storyboard();
        m_prototype
            = board ? board->instantiateController(popularItemPrototypeIdentifier) : nullptr;
        if (auto* prototype = qobject_cast<PopularCollectionViewItem*>(m_prototype.get())) {
            m_collectionView->setItemPrototype(
                [prototype]() -> std::unique_ptr<CollectionViewItem> { return prototype->copy(); });
        } else {
            m_prototype.reset();
            m_collectionView->setItemPrototype({});
        }
        m_collectionView->setContent(variants(m_contents));
    }
    updateContents();
    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, TopFeedsSync::didUpdateNotification(), nullptr,
        [this](const Notification&) { updateContents(); });
    center.addObserver(this, SourceIconData::iconUpdateNotification(), nullptr,
        [this](const Notification& notification) { iconUpdated(notification); });
    center.addObserver(this, SourcesData::changeNotification(), nullptr,
        [this](const Notification& notification) { sourcesUpdated(notification); });
    // Which feeds are added, after what a run that ended left is written by either program.
    SourcesData().localStore()->observeReplays(this, [this] { updateContents(); });
}

void PopularViewController::updateContents()
{
    setContents(TopFeedsData().topFeeds());
    if (!m_spinner)
        return;
    if (contents().isEmpty())
        m_spinner->startAnimation(this);
    else
        m_spinner->stopAnimation(this);
}

void PopularViewController::sourcesUpdated(const Notification&) { updateContents(); }

void PopularViewController::iconUpdated(const Notification& notification)
{
    const QVariant value = notification.userInfo.value(SourceIconData::sourceKey());
    if (value.metaType() != QMetaType::fromType<std::shared_ptr<Source>>())
        return;
    const auto source = value.value<std::shared_ptr<Source>>();
    if (!source)
        return;
    const auto shown = std::find_if(m_contents.cbegin(), m_contents.cend(),
        [&source](const auto& feed) { return *feed->source() == *source; });
    if (shown == m_contents.cend())
        return;
    const auto position = std::distance(m_contents.cbegin(), shown);
    const FeedList stored = TopFeedsData().topFeeds();
    // The stored list changed since it was shown: that position may hold another feed, or
    // none, so everything is shown anew.
    if (position >= stored.size() || !(*stored[position]->source() == *source)) {
        updateContents();
        return;
    }
    FeedList changed = m_contents;
    changed[position] = stored[position];
    setContents(changed);
}

void registerPopularScenes(const QString& name)
{
    Storyboard::registerScene(name, popularWindowIdentifier, [](const Storyboard& board) {
        auto controller = makeController<WindowController>(
            new PopularWindow(QRect(QPoint(0, 0), popularWindowSize)));
        auto content = makePopularViewController();
        // Its view loads as soon as the window takes it, and looks for the item prototype then.
        content->setStoryboardName(board.name());
        controller->setContentViewController(std::move(content));
        return std::static_pointer_cast<QObject>(controller);
    });
    Storyboard::registerScene(name, popularItemPrototypeIdentifier, [](const Storyboard&) {
        return std::static_pointer_cast<QObject>(makeController<PopularCollectionViewItem>());
    });
}

} // namespace Tickerly::App

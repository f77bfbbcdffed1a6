#include "app/sources/PopularCollectionViewItem.h"

#include "app/shell/Application.h"
#include "app/shell/Style.h"
#include "app/sources/AddButton.h"
#include "app/sources/PopularPanel.h"
#include "app/sources/SourcesWindowController.h"
#include "data/model/SourceIconData.h"
#include "data/model/SourcesData.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/ViewKit.h"

#include <QLoggingCategory>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

Q_LOGGING_CATEGORY(lcPopular, "tickerly.sources.popular")

namespace {

std::shared_ptr<TopFeedSource> feedOf(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<std::shared_ptr<TopFeedSource>>()
        ? value.value<std::shared_ptr<TopFeedSource>>()
        : nullptr;
}

// A feed counts as added under any title: the same address typed in gets the feed's own.
std::shared_ptr<Source> storedSourceOf(const Source& source)
{
    return SourcesData().sourceWithLink(source.link());
}

} // namespace

QImage IconForSourceTransformer::transformedValue(const QVariant& value) const
{
    if (const auto feed = feedOf(value)) {
        QImage icon = SourceIconData::iconForSource(*feed->source());
        if (!icon.isNull())
            return icon;
    }
    return imageNamed(u"story-placeholder"_s);
}

std::optional<bool> SourceIsAddedTransformer::transformedValue(const QVariant& value) const
{
    const auto feed = feedOf(value);
    if (!feed)
        return std::nullopt;
    return storedSourceOf(*feed->source()) != nullptr;
}

PopularCollectionViewItem::PopularCollectionViewItem() = default;

std::unique_ptr<PopularCollectionViewItem> PopularCollectionViewItem::copy() const
{
    return std::make_unique<PopularCollectionViewItem>();
}

std::shared_ptr<TopFeedSource> PopularCollectionViewItem::feed() const
{
    return feedOf(representedObject());
}

void PopularCollectionViewItem::setRepresentedObject(const QVariant& object)
{
    CollectionViewItem::setRepresentedObject(object);
    if (isViewLoaded())
        refreshBindings();
}

QWidget* PopularCollectionViewItem::loadView()
{
    auto* cell = new PopularCollectionCell;
    m_iconView = new ImageView;
    // Feed titles come from outside: the label paints them as plain text, cut at the end.
    m_titleLabel = new Label(Style::controlFont(), Style::white(0.2));
    m_titleLabel->setWraps(false);
    m_titleLabel->setTruncatesLastVisibleLine(true);
    m_titleLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* button = new AddButton;
    button->setFocusPolicy(Qt::NoFocus);
    const LayoutViews views { { u"icon"_s, m_iconView }, { u"title"_s, m_titleLabel },
        { u"add"_s, button } };
    addSubviews(cell, views.values());
    constraints(cell, u"|-8-[icon(28)]"_s, u"|-8-[icon(28)]-8-[title]-8-[add(64)]-8-|"_s, views);
    constraint(cell, m_titleLabel, LayoutAttribute::CenterY, LayoutRelation::Equal, m_iconView,
        LayoutAttribute::CenterY);
    constraints(cell, u"|-11-[add(22)]"_s, std::nullopt, views);
    button->awakeFromNib();
    QObject::connect(button, &Control::action, this, [this](Control* sender) { add(sender); });
    m_addButton = button;
    return cell;
}

void PopularCollectionViewItem::viewDidLoad()
{
    CollectionViewItem::viewDidLoad();
    m_bound = static_cast<bool>(m_addButton);
    refreshBindings();
}

void PopularCollectionViewItem::refreshBindings()
{
    if (m_iconView)
        m_iconView->setImage(IconForSourceTransformer().transformedValue(representedObject()));
    if (m_titleLabel) {
        const auto shown = feed();
        m_titleLabel->setStringValue(shown ? shown->source()->title() : QString());
    }
    // No value (not a popular feed) leaves the button as it was.
    if (m_bound && m_addButton) {
        if (const auto added = SourceIsAddedTransformer().transformedValue(representedObject()))
            m_addButton->setAdded(*added);
    }
}

void PopularCollectionViewItem::add(QObject*)
{
    SourcesData store;
    const auto shown = feed();
    if (!shown)
        return;
    const std::shared_ptr<Source>& source = shown->source();
    const auto stored = storedSourceOf(*source);
    const auto outcome = stored ? store.removeSource(*stored) : store.addSource(source);
    // A change kept for later still lands; one the store refused, or held in memory only, says
    // so where the field does.
    if (outcome != UserDefaults::Outcome::Failed && outcome != UserDefaults::Outcome::HeldInMemory)
        return;
    if (outcome == UserDefaults::Outcome::Failed)
        qCWarning(lcPopular) << "the store refused"
                             << (stored ? "the removal of" : "the addition of") << source->link();
    if (Application* application = Application::shared()) {
        if (auto sources
            = controllerCast<SourcesWindowController>(application->sourcesWindowController()))
            sources->showError(~u"Save change error"_s);
    }
}

} // namespace Tickerly::App

#include "SourceRowView.h"

#include "app/shell/FlatButton.h"
#include "app/shell/Style.h"
#include "platform/appkit/ProgressIndicator.h"
#include "data/sync/Localization.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/ImageNamed.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/ViewKit.h"

#include <QVBoxLayout>

namespace Tickerly::App {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Tickerly::StoryList;
using namespace Qt::Literals::StringLiterals;

namespace {

QFont titleFont()
{
    QFont font = Style::controlFont();
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QFont linkFont()
{
    QFont font = Style::controlFont();
    font.setPixelSize(10);
    return font;
}

std::optional<QImage> namedImage(const QString& name)
{
    const QImage image = imageNamed(name);
    if (image.isNull())
        return std::nullopt;
    return image;
}

QString removeTitle() { return (~u"Remove button"_s).toUpper(); }

} // namespace

SourceRowView::SourceRowView(QWidget* parent)
    : QWidget(parent)
    , m_title(new Label(titleFont(), Style::white(0.0)))
    , m_link(new Label(linkFont(), Style::white(0.5)))
    , m_icon(new ImageView)
    , m_spinner(new ProgressIndicator)
    , m_remove(new FlatButton)
    , m_mask(new ImageView(namedImage(u"iconMask"_s)))
{
    setup();
}

LayoutViews SourceRowView::views() const
{
    return { { u"title"_s, m_title }, { u"link"_s, m_link }, { u"remove"_s, m_remove },
        { u"icon"_s, m_icon }, { u"spinner"_s, m_spinner } };
}

void SourceRowView::setup()
{
    addSubviews(this, views().values());
    setupViews();
    setupSpinner();
    setupDeleteButton();
    setupMask();
}

void SourceRowView::setupViews()
{
    m_link->setWraps(false);
    m_link->setTruncatesLastVisibleLine(true);
    m_link->setSelectable(true);
    AppKit::setContentCompressionResistancePriority(
        m_link, LayoutPriorities::DefaultLow, LayoutOrientation::Horizontal);
    AppKit::setContentCompressionResistancePriority(
        m_title, LayoutPriorities::DefaultLow, LayoutOrientation::Horizontal);
    const LayoutViews named = views();
    constraints(this, u"|-10-[title(20)]-1-[link]"_s, std::nullopt, named);
    constraints(this, u"|-5-[icon]-5-|"_s, u"|-20-[icon]"_s, named);
    constraints(this, std::nullopt, u"[icon]-10-[title]-10-[remove]"_s, named);
    constraints(this, std::nullopt, u"[icon]-10-[link]-10-[remove]"_s, named);
    constraint(this, m_icon, LayoutAttribute::CenterY, LayoutRelation::Equal, this,
        LayoutAttribute::CenterY);
    constraint(this, m_icon, LayoutAttribute::Width, LayoutRelation::Equal, m_icon,
        LayoutAttribute::Height);
}

void SourceRowView::setupSpinner()
{
    m_spinner->setColor(QColor::fromRgbF(0.35f, 0.35f, 0.35f));
    constraint(this, m_spinner, LayoutAttribute::CenterX, LayoutRelation::Equal, m_icon,
        LayoutAttribute::CenterX);
    constraint(this, m_spinner, LayoutAttribute::CenterY, LayoutRelation::Equal, m_icon,
        LayoutAttribute::CenterY);
}

void SourceRowView::setupDeleteButton()
{
    m_remove->setTitle(removeTitle());
    m_remove->setColor(FlatButton::Color::red);
    constraints(this, std::nullopt, u"[remove]-20-|"_s, views());
    constraint(this, m_remove, LayoutAttribute::CenterY, LayoutRelation::Equal, this,
        LayoutAttribute::CenterY);
}

void SourceRowView::setupMask()
{
    addSubviews(this, m_mask);
    for (const LayoutAttribute edge : { LayoutAttribute::Leading, LayoutAttribute::Trailing,
             LayoutAttribute::Top, LayoutAttribute::Bottom })
        constraint(this, m_mask, edge, LayoutRelation::Equal, m_icon, edge);
    // The overlay and the spinner only show; presses reach the row below them.
    m_mask->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_mask->raise();
}

QString SourceRowView::formatLink(const QString& link)
{
    if (link.startsWith(u"http://"_s, Qt::CaseSensitive))
        return link.mid(7);
    if (link.startsWith(u"https://"_s, Qt::CaseSensitive))
        return link.mid(8);
    return link;
}

void SourceRowView::setData(std::shared_ptr<const SourceData> data)
{
    m_data = std::move(data);
    dataChanged();
}

void SourceRowView::dataChanged()
{
    m_title->setStringValue(m_data ? m_data->name : QString());
    m_link->setStringValue(formatLink(m_data ? m_data->url : QString()));
    m_icon->setImage(m_data ? m_data->icon : std::nullopt);
    if (m_data && m_data->loadingIcon) {
        m_spinner->startAnimation(this);
        m_spinner->setHidden(false);
    } else {
        m_spinner->stopAnimation(this);
        m_spinner->setHidden(true);
    }
    m_remove->setTitle(removeTitle());
}

SourceTableViewCellDelegate::~SourceTableViewCellDelegate() = default;

SourceTableViewCell::SourceTableViewCell(QWidget* parent)
    : TableCellView(parent)
{
}

void SourceTableViewCell::awakeFromNib()
{
    if (!m_contentView)
        return;
    connect(m_contentView->remove(), &Control::action, this, &SourceTableViewCell::deletePressed,
        Qt::UniqueConnection);
}

void SourceTableViewCell::deletePressed()
{
    if (SourceTableViewCellDelegate* d = delegate())
        d->deletePressed(this);
}

void SourceTableViewCell::setObjectValue(const QVariant& value)
{
    TableCellView::setObjectValue(value);
    if (!m_contentView)
        return;
    const QVariant stored = objectValue();
    m_contentView->setData(stored.canConvert<std::shared_ptr<const SourceData>>()
            ? stored.value<std::shared_ptr<const SourceData>>()
            : nullptr);
}

SourceTableViewCell* SourceTableViewCell::makeFromPrototype()
{
    auto* cell = new SourceTableViewCell;
    auto* row = new SourceRowView;
    auto* fill = new QVBoxLayout(cell);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(row);
    cell->setContentView(row);
    cell->awakeFromNib();
    return cell;
}

} // namespace Tickerly::App

#include "storylist/TodayView.h"

#include "data/sync/Localization.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/TableView.h"
#include "storylist/Label.h"
#include "storylist/RowStyle.h"
#include "storylist/ViewKit.h"

#include <QAbstractButton>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

using LA = LayoutAttribute;
constexpr auto Eq = LayoutRelation::Equal;

constexpr double kEmptyHeight = 100;
constexpr double kRowPitch = 77;
constexpr double kButtonStrip = 30;

} // namespace

TodayView::TodayView(QWidget* parent)
    : QWidget(parent)
    , emptyLabel(new Label(RowStyle::systemFont(20, QFont::Bold), RowStyle::defaultTextColor()))
{
    setup();
}

TodayView::~TodayView() = default;

LayoutViews TodayView::views() const { return { { u"emptyLabel"_s, emptyLabel } }; }

void TodayView::setup()
{
    updateExpandButtonTitle(m_expanded);
    emptyLabel->setWraps(false);
    emptyLabel->setStringValue(~u"No news"_s);
    emptyLabel->hide();
    addSubviews(this, emptyLabel);
    constraint(this, emptyLabel, LA::CenterX, Eq, this, LA::CenterX);
    constraint(this, emptyLabel, LA::CenterY, Eq, this, LA::CenterY);
    constraints(this, std::nullopt, u"|-(>=20)-[emptyLabel]-(>=20)-|"_s, views());
}

void TodayView::setIsEmpty(bool isEmpty)
{
    m_isEmpty = isEmpty;
    emptyLabel->setHidden(!isEmpty);
    if (m_expandButton)
        m_expandButton->setHidden(isEmpty);
}

void TodayView::setExpanded(bool expanded)
{
    m_expanded = expanded;
    updateExpandButtonTitle(expanded);
}

void TodayView::updateExpandButtonTitle(bool expanded)
{
    if (m_expandButton)
        m_expandButton->setText(expanded ? ~u"Show less"_s : ~u"Show more"_s);
}

void TodayView::updateHeight(qint64 rows)
{
    if (!m_heightConstraint)
        m_heightConstraint = constraint(this, this, LA::Height, Eq);
    // A count read from a damaged setting can be negative; that is no rows.
    const qint64 count = std::max<qint64>(rows, 0);
    m_heightConstraint->setConstant(
        count == 0 ? kEmptyHeight : double(count) * kRowPitch + kButtonStrip);
}

} // namespace Tickerly::StoryList

#include "storylist/ListCellView.h"

#include "platform/appkit/AnimationContext.h"
#include "platform/appkit/ConstraintLayout.h"
#include "platform/appkit/PanGestureRecognizer.h"
#include "storylist/ImageButton.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/ListRowContentView.h"
#include "storylist/Preferences.h"
#include "storylist/RowStyle.h"
#include "storylist/ViewKit.h"

#include <QPainter>

#include <algorithm>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

namespace {

using LA = LayoutAttribute;
constexpr auto Eq = LayoutRelation::Equal;

constexpr double kReadOpacity = 0.5;
constexpr double kImageColumnWidth = 50;
constexpr double kRedDuration = 0.5;
constexpr double kSlideDuration = 0.3;

std::function<void(AnimationContext&)> animated(double seconds, std::function<void()> changes)
{
    return [seconds, changes = std::move(changes)](AnimationContext& context) {
        context.setDuration(seconds);
        context.setAllowsImplicitAnimation(true);
        changes();
    };
}

bool sameStory(const std::shared_ptr<const ListRowViewData>& a,
    const std::shared_ptr<const ListRowViewData>& b)
{
    if (!a || !b)
        return a == b;
    return a->title == b->title && a->date == b->date && a->text == b->text;
}

} // namespace

ListCellViewDelegate::~ListCellViewDelegate() = default;

ListCellView::ListCellView(QWidget* parent)
    : TableCellView(parent)
    , contentView(new ListRowContentView)
    , optionsView(new RowOptionsView)
{
    setup();
}

ListCellView::~ListCellView() = default;

void ListCellView::setup()
{
    setupViews();
    setupOptionsView();
    setupPanGesture();
}

void ListCellView::setupViews()
{
    addSubviews(this, contentView);
    m_leftMargin = constraint(this, contentView, LA::Left, Eq, this, LA::Left);
    constraint(this, contentView, LA::Width, Eq, this, LA::Width);
    constraints(this, u"|[v(75)]"_s, std::nullopt, { { u"v"_s, contentView } });

    contentView->rightClickAction = [cell = QPointer<ListCellView>(this)](QMouseEvent* event) {
        if (!cell)
            return;
        if (ListCellViewDelegate* delegate = cell->delegate())
            delegate->rowViewShowShare(cell, event);
    };
    connect(contentView, &QAbstractButton::clicked, this, [this] { didClick(); });
    connect(contentView->closeButton, &QAbstractButton::clicked, this,
        [this] { closeButtonClicked(); });
    connect(contentView->shareButton, &QAbstractButton::clicked, this,
        [this] { shareButtonClicked(); });
}

void ListCellView::setupOptionsView()
{
    addSubviews(this, optionsView);
    m_optionsRightMargin = constraint(this, this, LA::Right, Eq, optionsView, LA::Left);
    constraint(this, optionsView, LA::Width, Eq, this, LA::Width);
    constraints(this, u"|[v]|"_s, std::nullopt, { { u"v"_s, optionsView } });
    optionsView->setDelegate(this);
}

void ListCellView::setupPanGesture()
{
    m_panGestureRecognizer = new PanGestureRecognizer(
        this, [this](PanGestureRecognizer* recognizer) { didPan(recognizer); });
}

ListCellViewDelegate* ListCellView::delegate() const { return m_delegate.get(); }

void ListCellView::setDelegate(ListCellViewDelegate* delegate)
{
    m_delegate.set(delegate);
    updateRowOptions();
}

void ListCellView::updateRowOptions()
{
    if (ListCellViewDelegate* delegate = this->delegate())
        optionsView->setupButtons(delegate->rowViewOptions(this));
    else
        optionsView->removeButtons();
}

void ListCellView::setObjectValue(const QVariant& value)
{
    TableCellView::setObjectValue(value);
    const QVariant stored = objectValue();
    if (stored.metaType() == QMetaType::fromType<std::shared_ptr<const ListRowViewData>>())
        setData(stored.value<std::shared_ptr<const ListRowViewData>>());
    else
        setData(nullptr);
}

void ListCellView::setData(std::shared_ptr<const ListRowViewData> data)
{
    m_data = std::move(data);
    bind();
}

void ListCellView::bind()
{
    if (!m_data) {
        m_leaving.reset();
        hide();
        contentView->setTrackingEnabled(false);
        return;
    }
    const ListRowViewData& row = *m_data;
    contentView->titleLabel->setStringValue(row.title);
    contentView->setDate(row.date);
    contentView->text->setStringValue(row.text);
    contentView->imageView->setImage(row.image);
    contentView->icon->setImage(row.icon);
    AppKit::setOpacity(contentView, row.read ? kReadOpacity : 1.0);
    contentView->setSelected(false);

    // The swiped story bound again while it slides out (its picture arrived) goes on sliding.
    if (!sameStory(m_data, m_leaving)) {
        m_leaving.reset();
        setMargin(0);
        m_initialSlideValue = 0;
        setIsRed(false);
        // At rest now, not after a slide still running from the row's last story.
        AppKit::layoutSubtreeIfNeeded(this);
    }

    show();
    contentView->setTrackingEnabled(true);

    const Preferences preferences;
    if (const LayoutConstraintRef& imageWidth = contentView->imageWidth())
        imageWidth->setConstant(preferences.widgetImages() ? kImageColumnWidth : 0);
    const bool buttonsHidden = !preferences.widgetButtons();
    contentView->closeButton->setHidden(buttonsHidden);
    contentView->shareButton->setHidden(buttonsHidden);
}

void ListCellView::setRead()
{
    AppKit::setOpacity(contentView, kReadOpacity);
    contentView->update();
}

void ListCellView::deselect() { contentView->setSelected(false); }

void ListCellView::setButtonsAlwaysVisible(bool visible)
{
    m_buttonsAlwaysVisible = visible;
    contentView->setButtonsAlwaysVisible(visible);
}

double ListCellView::margin() const { return m_leftMargin ? m_leftMargin->constant() : 0; }

void ListCellView::setMargin(double margin)
{
    if (m_leftMargin)
        m_leftMargin->setConstant(margin);
    if (m_optionsRightMargin)
        m_optionsRightMargin->setConstant(-margin);
}

void ListCellView::setIsRed(bool isRed)
{
    m_isRed = isRed;
    const QColor to = isRed ? RowStyle::dismissColor() : QColor(Qt::transparent);
    QPointer<ListCellView> self(this);
    // Red fades out through transparent red, not through black.
    const QColor from
        = m_background.alpha() == 0 ? QColor(to.red(), to.green(), to.blue(), 0) : m_background;
    AnimationContext::animateValue(
        this, "backgroundColor", from, to, [self](const QVariant& value) {
            if (!self)
                return;
            self->m_background = value.value<QColor>();
            self->update();
        });
}

void ListCellView::paintEvent(QPaintEvent*)
{
    // The body is see-through; the background shows only where it has slid away.
    const int uncovered = std::min(width(), contentView->x());
    if (m_background.alpha() == 0 || uncovered <= 0)
        return;
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, uncovered, height()), m_background);
}

double ListCellView::openMargin() const { return -(width() - openVisibleWidth); }

bool ListCellView::optionsOpen() const { return margin() <= openMargin(); }

void ListCellView::setOptionsOpen(bool open)
{
    setMargin(open ? openMargin() : 0);
    m_initialSlideValue = margin();
    slideToMargin(std::nullopt);
}

std::shared_ptr<NSViewAnimation> ListCellView::slideToMargin(std::optional<bool> red)
{
    return animate(this, animated(kSlideDuration, [this, red] {
        AppKit::layoutSubtreeIfNeeded(this);
        if (red && m_isRed != *red)
            setIsRed(*red);
    }));
}

void ListCellView::didPan(PanGestureRecognizer* recognizer)
{
    const PanGestureRecognizer::State state = recognizer->state();
    if (state == PanGestureRecognizer::State::Began)
        m_pannedData = m_data;
    // The cell was bound to another story mid-drag, and put at rest: the rest of the drag was
    // meant for the story that left. The same story bound again (its picture arrived) goes on.
    else if (!sameStory(m_data, m_pannedData))
        return;
    switch (state) {
    case PanGestureRecognizer::State::Began:
    case PanGestureRecognizer::State::Changed:
        panDidChange(recognizer);
        break;
    case PanGestureRecognizer::State::Ended:
        panDidFinish(recognizer);
        break;
    case PanGestureRecognizer::State::Cancelled:
    case PanGestureRecognizer::State::Failed:
        panDidFail(recognizer);
        break;
    case PanGestureRecognizer::State::Possible:
        break;
    }
}

double ListCellView::slideValue(PanGestureRecognizer* recognizer) const
{
    return recognizer->translationInView(this).x() + m_initialSlideValue;
}

void ListCellView::panDidChange(PanGestureRecognizer* recognizer)
{
    const double value = slideValue(recognizer);
    setMargin(value);
    const bool over = value > dismissThreshold;
    if (m_isRed != over)
        animate(this, animated(kRedDuration, [this, over] { setIsRed(over); }));
}

void ListCellView::panDidFinish(PanGestureRecognizer* recognizer)
{
    const double value = slideValue(recognizer);
    const bool dismiss = value > dismissThreshold;
    const double target = dismiss ? width() : value < openThreshold ? openMargin() : 0;
    setMargin(target);
    m_initialSlideValue = margin();
    // The table may rebind this cell while it slides out: to another story, which stays, or to
    // the swiped one again (its picture arrived), which still goes.
    const std::shared_ptr<const ListRowViewData> swiped = m_data;
    if (dismiss)
        m_leaving = swiped;
    slideToMargin(dismiss)->setCompletion([self = QPointer<ListCellView>(this), dismiss, swiped] {
        if (!dismiss || !self)
            return;
        if (self->m_leaving == swiped)
            self->m_leaving.reset();
        if (!sameStory(self->m_data, swiped))
            return;
        if (ListCellViewDelegate* delegate = self->delegate())
            delegate->rowViewDeleted(self);
    });
}

void ListCellView::panDidFail(PanGestureRecognizer*)
{
    setMargin(0);
    m_initialSlideValue = 0;
    // Back at rest nothing is about to be dismissed, so the warning goes too.
    slideToMargin(false);
}

void ListCellView::rowOptionButtonPressed(const QString& identifier, RowOptionsView*)
{
    if (ListCellViewDelegate* delegate = this->delegate())
        delegate->rowViewOptionPressed(identifier, this);
}

void ListCellView::didClick()
{
    if (ListCellViewDelegate* delegate = this->delegate())
        delegate->rowViewPressed(this);
}

void ListCellView::closeButtonClicked()
{
    if (ListCellViewDelegate* delegate = this->delegate())
        delegate->rowViewDeleted(this);
}

void ListCellView::shareButtonClicked() { setOptionsOpen(!optionsOpen()); }

} // namespace Tickerly::StoryList

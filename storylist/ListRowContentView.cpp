#include "storylist/ListRowContentView.h"

#include "storylist/ImageButton.h"
#include "storylist/ImageView.h"
#include "storylist/Label.h"
#include "storylist/Preferences.h"
#include "storylist/RowStyle.h"
#include "storylist/ViewKit.h"

#include <QContextMenuEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

namespace {

using LA = LayoutAttribute;
constexpr auto Eq = LayoutRelation::Equal;

constexpr double kDaySeconds = 86400;
constexpr int kMinimumBodyHeight = 10;
constexpr double kImageColumnWidth = 50;
constexpr double kIconSize = 16;
// The body starts this far right of the picture, under the icon; without a headline it takes
// the headline's place, right of the icon.
constexpr double kBodyInset = 5;
constexpr double kBodyInsetBesideIcon = kBodyInset + kIconSize + 5;

// A short date or time formatter in the locale the process had when it was first used.
class RowDateFormatter {
public:
    explicit RowDateFormatter(bool timeOfDay)
        : m_format(
            timeOfDay ? m_locale.timeFormat(QLocale::ShortFormat) : shortDateFormat(m_locale))
    {
    }
    // Years in two digits, as most locales' short dates have them: several locales' short form
    // ("14 Nov 2023", "14/11/2023") is wider than the time column.
    static QString shortDateFormat(const QLocale& locale)
    {
        QString format = locale.dateFormat(QLocale::ShortFormat);
        format.replace(u"yyyy"_s, u"yy"_s);
        return format;
    }
    QString string(const QDateTime& date) const
    {
        return m_locale.toString(date.toLocalTime(), m_format);
    }

private:
    const QLocale m_locale;
    const QString m_format;
};

// Made once, on first use, for every row of the process.
const RowDateFormatter& rowTimeFormatter()
{
    static const RowDateFormatter formatter(true);
    return formatter;
}

const RowDateFormatter& rowDateFormatter()
{
    static const RowDateFormatter formatter(false);
    return formatter;
}

} // namespace

ListRowContentView::ListRowContentView(QWidget* parent)
    : QAbstractButton(parent)
    , titleLabel(new Label(RowStyle::titleFont()))
    , timeLabel(new Label(RowStyle::timeFont(), RowStyle::grayTextColor()))
    , text(new Label(RowStyle::bodyFont(), RowStyle::grayTextColor()))
    , imageView(new ImageView)
    , icon(new ImageView)
    , closeButton(setupCloseButton())
    , shareButton(setupShareButton())
{
    // Children from the start: a button that setup() shows before setupViews() places it
    // would open as a window of its own.
    for (QWidget* subview : std::initializer_list<QWidget*> {
             titleLabel, text, imageView, timeLabel, icon, closeButton, shareButton })
        subview->setParent(this);
    setup();
}

ListRowContentView::~ListRowContentView() = default;

ImageButton* ListRowContentView::setupCloseButton()
{
    auto* button = new ImageButton(RowStyle::drawnGlyph(u"story close"_s));
    button->setOpacity(RowStyle::rowButtonOpacity);
    return button;
}

ImageButton* ListRowContentView::setupShareButton()
{
    auto* button = new ImageButton(RowStyle::drawnGlyph(u"story share"_s));
    button->setOpacity(RowStyle::rowButtonOpacity);
    return button;
}

void ListRowContentView::setup()
{
    resize(0, 0);
    setEnabled(true);
    setText(QString());
    setFocusPolicy(Qt::NoFocus);
    setSelected(true);
    setupViews();
}

LayoutViews ListRowContentView::views() const
{
    return { { u"title"_s, titleLabel }, { u"text"_s, text }, { u"image"_s, imageView },
        { u"time"_s, timeLabel }, { u"icon"_s, icon }, { u"close"_s, closeButton },
        { u"share"_s, shareButton } };
}

void ListRowContentView::setupViews()
{
    const LayoutViews views = this->views();
    addSubviews(this, { titleLabel, text, imageView, timeLabel, icon, closeButton, shareButton });
    AppKit::setContentCompressionResistancePriority(
        titleLabel, LayoutPriorities::Required, LayoutOrientation::Vertical);
    AppKit::setContentHuggingPriority(
        titleLabel, LayoutPriorities::Required, LayoutOrientation::Vertical);
    timeLabel->setAlignment(Qt::AlignRight);

    constraints(this, u"|-2-[title][text]|"_s, std::nullopt, views);
    constraints(this, u"|[image]|"_s, std::nullopt, views);
    constraints(this, u"|-3-[icon]"_s, std::nullopt, views);
    constraints(this, u"|-4-[time]"_s, std::nullopt, views);
    constraints(this, std::nullopt, u"|[image]"_s, views);
    constraints(
        this, std::nullopt, u"[image]-5-[icon(16)]-5-[title]-(>=0)-[time(45)]-2-|"_s, views);
    m_textLeft = constraint(this, text, LA::Left, Eq, imageView, LA::Right, 1.0, kBodyInset);
    constraints(this, std::nullopt, u"[text]-45-|"_s, views);

    m_imageWidth = constraint(this, imageView, LA::Width, Eq, nullptr, LA::NotAnAttribute, 1.0,
        Preferences().widgetImages() ? kImageColumnWidth : 0);
    constraint(this, icon, LA::Width, Eq, icon, LA::Height);
    constraint(this, titleLabel, LA::Width, Eq, this, LA::Width, 1.0, -130);
    constraints(this, u"[time]-2-[close]-2-[share]"_s, std::nullopt, views);
    constraint(this, closeButton, LA::CenterX, Eq, timeLabel, LA::CenterX, 1.0, 10);
    constraint(this, shareButton, LA::CenterX, Eq, timeLabel, LA::CenterX, 1.0, 10);

    // The body's height follows the row's and the headline's; a hidden body gets no resize
    // events, so the headline's are watched too.
    text->installEventFilter(this);
    titleLabel->installEventFilter(this);
    updateTextVisibility();
}

void ListRowContentView::setDate(std::optional<QDateTime> date)
{
    m_date = std::move(date);
    timeLabel->setStringValue(timeLabelStringFromDate(m_date));
}

QString ListRowContentView::timeLabelStringFromDate(const std::optional<QDateTime>& date)
{
    if (!date || !date->isValid())
        return QString(u""_s);
    const double age = QDateTime::currentDateTimeUtc().msecsTo(*date) / 1000.0;
    // A fixed day before now, not the start of today: future dates show their time too.
    if (age > -kDaySeconds)
        return rowTimeFormatter().string(*date);
    return rowDateFormatter().string(*date);
}

void ListRowContentView::setTrackingEnabled(bool enabled)
{
    m_trackingEnabled = enabled;
    if (!enabled)
        m_trackingArea.reset();
    else
        layoutRow();
}

void ListRowContentView::updateTextInset()
{
    if (m_textLeft)
        m_textLeft->setConstant(
            titleLabel->stringValue().trimmed().isEmpty() ? kBodyInsetBesideIcon : kBodyInset);
}

void ListRowContentView::layoutRow()
{
    updateTextInset();
    AppKit::layoutSubtreeIfNeeded(this);
    if (m_trackingEnabled)
        m_trackingArea = rect();
    updateTextVisibility();
}

void ListRowContentView::updateTextVisibility()
{
    text->setHidden(text->height() < kMinimumBodyHeight);
}

void ListRowContentView::setSelected(bool selected)
{
    m_selected = selected;
    updateSelected();
}

void ListRowContentView::setButtonsAlwaysVisible(bool visible)
{
    m_buttonsAlwaysVisible = visible;
    updateSelected();
}

void ListRowContentView::updateSelected()
{
    // With the row buttons off the cell keeps them hidden; leave them be.
    if (Preferences().widgetButtons()) {
        const bool hidden = !(m_buttonsAlwaysVisible || m_selected);
        closeButton->setHidden(hidden);
        shareButton->setHidden(hidden);
    }
    update();
}

void ListRowContentView::mouseEntered() { setSelected(true); }

void ListRowContentView::mouseExited() { setSelected(false); }

void ListRowContentView::paintEvent(QPaintEvent*)
{
    if (!m_selected)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), RowStyle::highlightColor());
}

void ListRowContentView::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    layoutRow();
}

void ListRowContentView::enterEvent(QEnterEvent*)
{
    if (m_trackingArea)
        mouseEntered();
}

void ListRowContentView::leaveEvent(QEvent*)
{
    if (m_trackingArea)
        mouseExited();
}

void ListRowContentView::mousePressEvent(QMouseEvent* event)
{
    // A right click is the closure's alone; the button never sees it.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void ListRowContentView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        if (rightClickAction)
            rightClickAction(event);
        return;
    }
    QAbstractButton::mouseReleaseEvent(event);
}

void ListRowContentView::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }

bool ListRowContentView::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == text || watched == titleLabel) && event->type() == QEvent::Resize) {
        updateTextVisibility();
        // A headline set or cleared changes the headline's height.
        if (watched == titleLabel)
            updateTextInset();
    }
    return QAbstractButton::eventFilter(watched, event);
}

} // namespace Tickerly::StoryList

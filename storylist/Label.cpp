#include "storylist/Label.h"

#include "platform/appkit/ConstraintLayout.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// Below this width a label measures as if it were this wide, so a label that has not been
// laid out yet (width 0) still asks for a sensible height.
constexpr qreal kNarrowWidth = 100;
constexpr qreal kMeasuringWidthWhenNarrow = 200;
// Far more than any label here has room for. Feed texts have no length limit, and every
// measure and paint lays the whole text out.
constexpr qsizetype kMaxShownLength = 4096;

} // namespace

Label::Label(const QFont& font, const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_color(color)
{
    setFont(font);
    // A zero frame until constraints place it.
    resize(0, 0);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void Label::setStringValue(const QString& text)
{
    m_text = text;
    contentChanged();
}

void Label::setTruncatesLastVisibleLine(bool truncates)
{
    m_truncates = truncates;
    update();
}

void Label::setWraps(bool wraps)
{
    m_wraps = wraps;
    contentChanged();
}

void Label::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment & Qt::AlignHorizontal_Mask;
    update();
}

void Label::setTextColor(const QColor& color)
{
    m_color = color;
    update();
}

QString Label::displayText() const
{
    QString shown = m_text.left(kMaxShownLength);
    if (shown.size() < m_text.size() && shown.back().isHighSurrogate())
        shown.chop(1);
    // Line breaks of the text itself stay line breaks inside one paragraph of the layout.
    shown.replace(u"\r\n"_s, QString(QChar::LineSeparator));
    shown.replace(u'\n', QChar::LineSeparator);
    shown.replace(u'\r', QChar::LineSeparator);
    if (!m_wraps)
        shown.replace(QChar::LineSeparator, u' ');
    return shown;
}

void Label::layOut(QTextLayout& layout, qreal width) const
{
    QTextOption option(m_alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
}

qreal Label::measuredHeight(qreal width) const
{
    if (width == m_measuredWidth)
        return m_measuredHeight;
    qreal height = 0;
    if (!m_text.isEmpty()) {
        QTextLayout layout(displayText(), font());
        layOut(layout, width);
        height = layout.boundingRect().height();
    }
    m_measuredWidth = width;
    m_measuredHeight = height;
    return height;
}

QSize Label::intrinsicContentSize() const
{
    if (!m_wraps) {
        const QFontMetricsF metrics(font());
        const qreal width = m_text.isEmpty() ? 0 : metrics.horizontalAdvance(displayText());
        return QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(metrics.height())));
    }
    const qreal width = this->width();
    const qreal measuring = width < kNarrowWidth ? kMeasuringWidthWhenNarrow : width;
    return QSize(this->width(), static_cast<int>(std::ceil(measuredHeight(measuring) - 1e-6)));
}

void Label::contentChanged()
{
    m_measuredWidth = -1;
    appkit::invalidateIntrinsicContentSize(this);
    update();
}

void Label::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        contentChanged();
    QWidget::changeEvent(event);
}

void Label::paintEvent(QPaintEvent*)
{
    if (m_text.isEmpty() || width() <= 0)
        return;
    QPainter painter(this);
    painter.setPen(m_color);
    painter.setFont(font());
    const QFontMetricsF metrics(font());
    const qreal width = this->width();

    const auto drawElided = [&](const QString& rest, qreal y) {
        const QString elided = metrics.elidedText(rest, Qt::ElideRight, width);
        qreal x = 0;
        const qreal advance = metrics.horizontalAdvance(elided);
        if (m_alignment & Qt::AlignRight)
            x = width - advance;
        else if (m_alignment & Qt::AlignHCenter)
            x = (width - advance) / 2;
        painter.drawText(QPointF(x, y + metrics.ascent()), elided);
    };

    const QString shown = displayText();
    if (!m_wraps) {
        if (m_truncates) {
            drawElided(shown, 0);
        } else {
            painter.drawText(QRectF(0, 0, width, metrics.height()),
                             int(m_alignment) | Qt::AlignTop | Qt::TextSingleLine, shown);
        }
        return;
    }

    QTextLayout layout(shown, font());
    layOut(layout, width);
    const int lineCount = layout.lineCount();
    int visible = lineCount;
    if (m_truncates) {
        // Lines that fit whole; at least the first, cut by the bounds if need be.
        visible = 0;
        while (visible < lineCount && layout.lineAt(visible).rect().bottom() <= height() + 0.5)
            ++visible;
        visible = std::max(visible, 1);
    }
    for (int i = 0; i < visible; ++i) {
        const QTextLine line = layout.lineAt(i);
        if (i == visible - 1 && visible < lineCount) {
            QString rest = shown.mid(line.textStart());
            rest.replace(QChar::LineSeparator, u' ');
            drawElided(rest.trimmed(), line.y());
        } else {
            line.draw(&painter, QPointF(0, 0));
        }
    }
}

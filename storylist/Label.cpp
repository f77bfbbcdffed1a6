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

qreal Label::visibleHeight() const
{
    // A line past the parent's edge would be cut through its glyphs.
    const QWidget* parent = parentWidget();
    return parent ? std::min<qreal>(height(), parent->height() - y()) : height();
}

QList<Label::DrawnLine> Label::drawnLines(const QTextLayout& layout, const QString& shown) const
{
    const QFontMetricsF metrics(font());
    const qreal width = this->width();
    const auto elidedLine = [&](const QString& rest, qreal y) {
        DrawnLine line;
        line.text = metrics.elidedText(rest, Qt::ElideRight, width);
        line.elided = line.text != rest;
        const qreal advance = metrics.horizontalAdvance(line.text);
        qreal x = 0;
        if (m_alignment & Qt::AlignRight)
            x = width - advance;
        else if (m_alignment & Qt::AlignHCenter)
            x = (width - advance) / 2;
        line.rect = QRectF(x, y, advance, metrics.height());
        return line;
    };

    QList<DrawnLine> lines;
    if (!m_wraps) {
        if (m_truncates) {
            lines.append(elidedLine(shown, 0));
        } else {
            const qreal advance = std::min(width, metrics.horizontalAdvance(shown));
            lines.append({ QRectF(0, 0, advance, metrics.height()), shown, false });
        }
        return lines;
    }

    const int lineCount = layout.lineCount();
    int visible = lineCount;
    if (m_truncates) {
        // Lines that fit whole; at least the first, cut by the bounds if need be.
        const qreal bottom = visibleHeight() + 0.5;
        visible = 0;
        while (visible < lineCount && layout.lineAt(visible).rect().bottom() <= bottom)
            ++visible;
        visible = std::max(visible, 1);
    }
    for (int i = 0; i < std::min(visible, lineCount); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (i == visible - 1 && visible < lineCount) {
            QString rest = shown.mid(line.textStart());
            rest.replace(QChar::LineSeparator, u' ');
            lines.append(elidedLine(rest.trimmed(), line.y()));
            // The rest may itself fit on the line, but it was not all laid out there.
            lines.back().elided = true;
        } else {
            lines.append({ line.naturalTextRect(), shown.mid(line.textStart(), line.textLength()), false });
        }
    }
    return lines;
}

QList<Label::DrawnLine> Label::drawnLines() const
{
    if (m_text.isEmpty() || width() <= 0)
        return {};
    const QString shown = displayText();
    QTextLayout layout(shown, font());
    if (m_wraps)
        layOut(layout, width());
    return drawnLines(layout, shown);
}

void Label::paintEvent(QPaintEvent*)
{
    if (m_text.isEmpty() || width() <= 0)
        return;
    QPainter painter(this);
    painter.setPen(m_color);
    painter.setFont(font());
    const QFontMetricsF metrics(font());

    const QString shown = displayText();
    QTextLayout layout(shown, font());
    if (!m_wraps && !m_truncates) {
        painter.drawText(QRectF(0, 0, width(), metrics.height()),
                         int(m_alignment) | Qt::AlignTop | Qt::TextSingleLine, shown);
        return;
    }
    if (m_wraps)
        layOut(layout, width());
    const QList<DrawnLine> lines = drawnLines(layout, shown);
    for (int i = 0; i < lines.size(); ++i) {
        const DrawnLine& line = lines[i];
        const bool laidOut = m_wraps && !(i == lines.size() - 1 && line.elided);
        if (laidOut)
            layout.lineAt(i).draw(&painter, QPointF(0, 0));
        else
            painter.drawText(QPointF(line.rect.x(), line.rect.y() + metrics.ascent()), line.text);
    }
}

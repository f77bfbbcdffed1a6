#include "storylist/Label.h"

#include "platform/appkit/ConstraintLayout.h"

#include <QClipboard>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace Tickerly::StoryList {

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
    m_anchor = m_position = 0;
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

void Label::setSelectable(bool selectable)
{
    m_selectable = selectable;
    // Clicks give it the focus, for the copy key; Tab does not.
    setFocusPolicy(selectable ? Qt::ClickFocus : Qt::NoFocus);
    setCursor(selectable ? Qt::IBeamCursor : Qt::ArrowCursor);
    select(0, 0);
}

QString Label::selectedText() const
{
    const qsizetype from = std::min(m_anchor, m_position);
    return displayText().mid(from, std::max(m_anchor, m_position) - from);
}

void Label::select(qsizetype anchor, qsizetype position)
{
    if (anchor == m_anchor && position == m_position)
        return;
    m_anchor = anchor;
    m_position = position;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && anchor != position)
        clipboard->setText(selectedText(), QClipboard::Selection);
    update();
}

QString Label::oneLine(qreal* x) const
{
    const QFontMetricsF metrics(font());
    const QString shown
        = m_truncates ? metrics.elidedText(displayText(), Qt::ElideRight, width()) : displayText();
    *x = alignedLeft(metrics.horizontalAdvance(shown));
    return shown;
}

qreal Label::alignedLeft(qreal advance) const
{
    if (m_alignment & Qt::AlignRight)
        return width() - advance;
    if (m_alignment & Qt::AlignHCenter)
        return (width() - advance) / 2;
    return 0;
}

qsizetype Label::positionAt(qreal x) const
{
    qreal start = 0;
    const QString shown = oneLine(&start);
    const QString text = displayText();
    const bool elided = shown != text;
    // What is drawn before an ellipsis is the start of the text.
    const QString drawn = elided ? shown.left(shown.size() - 1) : shown;
    if (elided && x - start > QFontMetricsF(font()).horizontalAdvance(drawn))
        return text.size();
    QTextLayout layout(drawn, font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    return line.isValid() ? line.xToCursor(x - start) : 0;
}

void Label::mousePressEvent(QMouseEvent* event)
{
    if (!m_selectable || m_wraps || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const qsizetype at = positionAt(event->position().x());
    select(event->modifiers() & Qt::ShiftModifier ? m_anchor : at, at);
    event->accept();
}

void Label::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selectable || m_wraps || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    select(m_anchor, positionAt(event->position().x()));
    event->accept();
}

void Label::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_selectable || m_wraps || event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // An address is one word to its reader.
    select(0, displayText().size());
    event->accept();
}

void Label::keyPressEvent(QKeyEvent* event)
{
    if (m_selectable && event->matches(QKeySequence::Copy)) {
        if (m_anchor != m_position)
            QGuiApplication::clipboard()->setText(selectedText());
        event->accept();
        return;
    }
    if (m_selectable && event->matches(QKeySequence::SelectAll)) {
        select(0, displayText().size());
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Label::focusOutEvent(QFocusEvent* event)
{
    // As a field that is no longer edited, it lets its selection go; not for a menu of its own.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        select(0, 0);
    QWidget::focusOutEvent(event);
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
        return QSize(
            static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(metrics.height())));
    }
    const qreal width = this->width();
    const qreal measuring = width < kNarrowWidth ? kMeasuringWidthWhenNarrow : width;
    return QSize(this->width(), static_cast<int>(std::ceil(measuredHeight(measuring) - 1e-6)));
}

void Label::contentChanged()
{
    m_measuredWidth = -1;
    AppKit::invalidateIntrinsicContentSize(this);
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
        line.rect = QRectF(alignedLeft(advance), y, advance, metrics.height());
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
            lines.append(
                { line.naturalTextRect(), shown.mid(line.textStart(), line.textLength()), false });
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
    if (!m_wraps && m_anchor != m_position) {
        qreal x = 0;
        const QString line = oneLine(&x);
        const qsizetype drawn
            = line == shown ? line.size() : std::max<qsizetype>(line.size() - 1, 0);
        const qsizetype from = std::min({ m_anchor, m_position, drawn });
        const qsizetype to = std::min(std::max(m_anchor, m_position), drawn);
        // A selection that runs on past the ellipsis takes the ellipsis in.
        const qreal left = x + metrics.horizontalAdvance(line.left(from));
        const qreal right = x
            + metrics.horizontalAdvance(
                line.left(std::max(m_anchor, m_position) > drawn ? line.size() : to));
        painter.fillRect(
            QRectF(left, 0, right - left, metrics.height()), palette().color(QPalette::Highlight));
        painter.drawText(QPointF(x, metrics.ascent()), line);
        painter.setClipRect(QRectF(left, 0, right - left, metrics.height()));
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawText(QPointF(x, metrics.ascent()), line);
        return;
    }
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

} // namespace Tickerly::StoryList

#pragma once

#include "storylist/Namespace.h"
#include "storylist/RowStyle.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>

class QFocusEvent;
class QKeyEvent;
class QMouseEvent;
class QTextLayout;

namespace Tickerly::StoryList {

// A read-only text for constraint layouts: plain text (never markup), word-wrapped, with the
// last visible line ended by an ellipsis when the text does not fit. Its content size is the
// height of its wrapped text at its current width, so a headline gets exactly the lines it
// needs. Made in code only; main thread only.
class Label : public QWidget {
public:
    explicit Label(const QFont& font, const QColor& color = RowStyle::defaultTextColor(),
        QWidget* parent = nullptr);

    QString stringValue() const { return m_text; }
    // Stores the text and invalidates the content size, also when the text is the same.
    void setStringValue(const QString& text);

    bool truncatesLastVisibleLine() const { return m_truncates; }
    void setTruncatesLastVisibleLine(bool truncates);

    // Whether the text wraps (on at creation); a label that does not wrap is one line long.
    bool wraps() const { return m_wraps; }
    void setWraps(bool wraps);

    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);

    QColor textColor() const { return m_color; }
    void setTextColor(const QColor& color);

    // Whether the text of a one-line label can be selected with the mouse and copied (off at
    // creation). It never becomes editable, and Tab passes it by.
    bool isSelectable() const { return m_selectable; }
    void setSelectable(bool selectable);
    QString selectedText() const;

    // Wrapping: (current width, height of the text measured at the current width, or at 200
    // points while the label is narrower than 100). Not wrapping: the one-line text's size.
    QSize intrinsicContentSize() const;

    // One line as the label draws it, in the label's coordinates.
    struct DrawnLine {
        QRectF rect;
        QString text;
        // Ends in an ellipsis because more text follows that is not shown.
        bool elided = false;
    };
    // Whole lines only: those that fit in the label and inside its parent (which clips it), the
    // last of them elided when text remains; at least the first line.
    QList<DrawnLine> drawnLines() const;

    QSize sizeHint() const override { return intrinsicContentSize(); }
    QSize minimumSizeHint() const override { return QSize(0, 0); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString displayText() const;
    void layOut(QTextLayout& layout, qreal width) const;
    QList<DrawnLine> drawnLines(const QTextLayout& layout, const QString& shown) const;
    qreal visibleHeight() const;
    qreal measuredHeight(qreal width) const;
    void contentChanged();
    // The one line as drawn, ellipsis included, and where it starts.
    QString oneLine(qreal* x) const;
    // Where a line of `advance` starts, by the label's alignment.
    qreal alignedLeft(qreal advance) const;
    // The place in the text nearest to `x`; past the drawn part, the end of the text.
    qsizetype positionAt(qreal x) const;
    void select(qsizetype anchor, qsizetype position);

    QString m_text;
    QColor m_color;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    bool m_wraps = true;
    bool m_truncates = true;
    bool m_selectable = false;
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    mutable qreal m_measuredWidth = -1;
    mutable qreal m_measuredHeight = 0;
};

} // namespace Tickerly::StoryList

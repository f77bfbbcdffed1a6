#include "app/sources/AddButton.h"

#include "app/shell/Style.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kLabelTag = 1234;
constexpr const char* kTag = "tag";

} // namespace

AddButton::AddButton(QWidget* parent)
    : Control(parent)
{
    setup();
}

void AddButton::setup() { }

QLabel* AddButton::label()
{
    for (QLabel* child : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (child->property(kTag).toInt() == kLabelTag)
            return child;
    }
    return setupLabel();
}

QColor AddButton::color() const { return m_added ? style::accentRed() : style::accentGreen(); }

void AddButton::setAdded(bool added)
{
    m_added = added;
    // Fixed texts: they are not looked up in the localisation table.
    label()->setText(added ? u"Fjern"_s : u"Tilføj"_s);
    updateTextColor();
    update();
}

void AddButton::setPressed(bool pressed)
{
    m_pressed = pressed;
    update();
    updateTextColor();
}

QLabel* AddButton::setupLabel()
{
    auto* field = new QLabel(this);
    field->setTextFormat(Qt::PlainText);
    field->setTextInteractionFlags(Qt::NoTextInteraction);
    // Presses on the title are presses on the button.
    field->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, color());
    field->setPalette(palette);
    field->setAutoFillBackground(false);
    field->setFrameShape(QFrame::NoFrame);
    field->setAlignment(Qt::AlignCenter);
    field->setText(u"Tilføj"_s);
    field->setProperty(kTag, kLabelTag);
    // Made after the last layout pass, it still takes its place at once.
    field->setGeometry(0, 0, width(), height() - 2);
    field->show();
    return field;
}

void AddButton::awakeFromNib() { label(); }

void AddButton::updateTextColor()
{
    QLabel* field = label();
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, m_pressed ? QColor(Qt::white) : color());
    field->setPalette(palette);
}

void AddButton::layout() { label()->setGeometry(0, 0, width(), height() - 2); }

void AddButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(1.0, 1.0, -1.0, -1.0);
    painter.setPen(QPen(color(), 1.0));
    painter.setBrush(m_pressed ? QBrush(color()) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(frame, 5.0, 5.0);
}

void AddButton::mouseDown(QMouseEvent*) { setPressed(true); }

void AddButton::mouseUp(QMouseEvent*)
{
    if (m_pressed) {
        // The target may delete this button (its item rebuilt).
        QPointer<AddButton> self(this);
        sendAction();
        if (!self)
            return;
    }
    setPressed(false);
}

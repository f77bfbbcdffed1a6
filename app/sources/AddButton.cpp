#include "app/sources/AddButton.h"

#include "app/shell/Style.h"

#include <QLabel>
#include <QPainter>

namespace Tickerly::App {

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

QColor AddButton::color() const { return m_added ? Style::accentRed() : Style::accentGreen(); }

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
    QLabel* field = makeTitleLabel(u"Tilføj"_s, color());
    field->setProperty(kTag, kLabelTag);
    // Made after the last layout pass, it still takes its place at once.
    field->setGeometry(0, 0, width(), height() - 2);
    field->show();
    return field;
}

void AddButton::awakeFromNib() { label(); }

void AddButton::updateTextColor()
{
    setTextColor(label(), m_pressed ? QColor(Qt::white) : color());
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
    // The target may delete the button (its item rebuilt).
    if (m_pressed && !sendActionAndSurvive())
        return;
    setPressed(false);
}

} // namespace Tickerly::App

#include "app/sources/SearchBar.h"

#include "platform/foundation/base/NotificationCenter.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPointer>

namespace Tickerly::App {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

const QString controlTextDidEndEditingNotification = u"NSControlTextDidEndEditingNotification"_s;

SearchBar::SearchBar(QWidget* parent)
    : QLineEdit(parent)
{
    setClearButtonEnabled(true);
    connect(this, &QLineEdit::textEdited, this, [this] { m_editing = true; });
    connect(this, &QLineEdit::textChanged, this, [this] { m_submitted = false; });
}

namespace {

// The focus went to another window or program, or to a menu or the menu bar, and came back
// from there: the field stayed the one the window edits meanwhile.
bool isElsewhere(Qt::FocusReason reason)
{
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason
        || reason == Qt::MenuBarFocusReason;
}

} // namespace

void SearchBar::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (m_focused && isElsewhere(event->reason()))
        return;
    m_focused = true;
    m_editing = true;
    if (onFocus) {
        // A copy: the closure may replace itself while it runs.
        const auto focus = onFocus;
        focus();
    }
}

void SearchBar::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window or program, or a menu, took the focus: the user will be back.
    if (isElsewhere(event->reason()))
        return;
    m_focused = false;
    endEditing(false);
}

void SearchBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_editing = true;
        endEditing(true);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && onCancel) {
        const auto cancel = onCancel;
        cancel();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void SearchBar::endEditing(bool byReturn)
{
    if (!m_editing)
        return;
    // Moving on from text already handed over ends editing without handing it over again.
    if ((byReturn || !m_submitted) && m_delegate) {
        if (!m_delegate->controlTextShouldEndEditing(this))
            return;
        m_submitted = !text().isEmpty();
    }
    m_editing = false;
    QPointer<SearchBar> self(this);
    NotificationCenter::defaultCenter().post(controlTextDidEndEditingNotification, this);
    if (self)
        selectAll();
}

} // namespace Tickerly::App

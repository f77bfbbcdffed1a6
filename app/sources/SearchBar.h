#pragma once

#include "app/Namespace.h"

#include <QLineEdit>
#include <QString>

#include <functional>

namespace Tickerly::App {

class SearchBar;

// Posted on the default centre when editing of a search bar has ended; the object is the bar.
extern const QString controlTextDidEndEditingNotification;

// Asked when editing of a search bar is about to end; true lets it end.
class SearchBarDelegate {
public:
    virtual bool controlTextShouldEndEditing(QObject* control) = 0;

protected:
    ~SearchBarDelegate() = default;
};

// The search field of the sources window. Editing ends on Return or Enter, or when the focus
// moves elsewhere in the window; it does not end when the window merely loses the focus to
// another window or program, or to a menu or the menu bar. Text that was handed over already
// and not changed since is handed over again on Return only, not when the focus moves on.
// Main thread only; owned by its parent.
class SearchBar : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchBar(QWidget* parent = nullptr);

    // Run each time the field takes the keyboard focus; not when its window merely becomes
    // active again with the focus still in the field.
    std::function<void()> onFocus;
    // Run on Esc; the field keeps its text and the focus.
    std::function<void()> onCancel;

    SearchBarDelegate* delegate() const { return m_delegate; }
    void setDelegate(SearchBarDelegate* delegate) { m_delegate = delegate; }

    bool isEditing() const { return m_editing; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void endEditing(bool byReturn);

    SearchBarDelegate* m_delegate = nullptr;
    bool m_editing = false;
    // Whether the field is the one its window edits, also while another window is active.
    bool m_focused = false;
    // The text was handed to the delegate and has not changed since.
    bool m_submitted = false;
};

} // namespace Tickerly::App

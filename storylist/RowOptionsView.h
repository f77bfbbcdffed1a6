#pragma once

#include "storylist/Namespace.h"
#include "platform/appkit/WeakDelegate.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QWidget>

class QAbstractButton;

namespace Tickerly::StoryList {

class RowOptionsView;

// One option of the strip: the name handed back when its button is pressed, and its picture.
struct RowOption {
    QString identifier;
    QImage icon;
};

// Told which option of a strip was pressed. The strip does not own its delegate; a delegate
// that is a QObject is forgotten when it dies.
class RowOptionsViewDelegate {
public:
    virtual ~RowOptionsViewDelegate();
    virtual void rowOptionButtonPressed(const QString& identifier, RowOptionsView* optionsView) = 0;
};

// The strip of option buttons revealed under a story row swiped aside: one borderless image
// button per option, 64 points wide and as high as the strip, from the left edge, each right
// after the one before. It knows nothing of stories; its owner (the row cell) gives it the
// options and passes presses on. Made in code only; main thread only.
class RowOptionsView : public QWidget {
public:
    explicit RowOptionsView(QWidget* parent = nullptr);
    ~RowOptionsView() override;

    RowOptionsViewDelegate* delegate() const;
    void setDelegate(RowOptionsViewDelegate* delegate);

    // The current options' buttons by identifier (a repeated identifier: the last one's).
    const QMap<QString, QAbstractButton*>& buttonIdentifiers() const { return m_buttonIdentifiers; }

    // Replaces the buttons by one per option, in order; the same options keep their buttons.
    void setupButtons(const QList<RowOption>& options);
    // Takes every button the strip made out of it, repeated identifiers' included.
    void removeButtons();
    // Adds `button` to the strip, right of `after`, or at the left edge without one.
    void appendButton(QAbstractButton* button, QAbstractButton* after);
    // The action of every option button: tells the delegate the sender's identifier.
    void buttonPressed(QAbstractButton* sender);

protected:
    // A hook run at the end of construction; does nothing here.
    virtual void setup() { }

private:
    AppKit::WeakDelegate<RowOptionsViewDelegate> m_delegate;
    QMap<QString, QAbstractButton*> m_buttonIdentifiers;
    QList<QPointer<QAbstractButton>> m_buttons;
    QList<RowOption> m_options; // what the buttons show
};

} // namespace Tickerly::StoryList

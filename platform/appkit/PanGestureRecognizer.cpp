#include "platform/appkit/PanGestureRecognizer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <cmath>

namespace Tickerly::AppKit {

namespace {

// Watches the whole application for Escape while a pan runs: keys go to the focused widget,
// which need not be inside the view.
class EscapeWatcher : public QObject {
public:
    EscapeWatcher(QObject* parent, std::function<bool()> onEscape)
        : QObject(parent)
        , m_onEscape(std::move(onEscape))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress
            && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return m_onEscape();
        return false;
    }

private:
    std::function<bool()> m_onEscape;
};

} // namespace

PanGestureRecognizer::PanGestureRecognizer(QWidget* view, Action action)
    : QObject(view)
    , m_view(view)
    , m_action(std::move(action))
    , m_escapeWatcher(new EscapeWatcher(this, [this] {
        if (m_state != State::Began && m_state != State::Changed)
            return false;
        cancel();
        return true;
    }))
{
    watch(view);
}

PanGestureRecognizer::~PanGestureRecognizer()
{
    if (qApp)
        qApp->removeEventFilter(m_escapeWatcher);
}

QPointF PanGestureRecognizer::translationInView(const QWidget*) const
{
    return m_current - m_start;
}

void PanGestureRecognizer::setTranslation(const QPointF& translation, const QWidget*)
{
    m_start = m_current - translation;
}

void PanGestureRecognizer::watch(QObject* object)
{
    if (!object || object == this || object == m_escapeWatcher)
        return;
    object->installEventFilter(this);
    for (QObject* child : object->children())
        watch(child);
}

void PanGestureRecognizer::setState(State state)
{
    m_state = state;
    if (m_action)
        m_action(this);
}

void PanGestureRecognizer::begin()
{
    // Whatever button took the press must not report a click when it is released.
    if (m_view) {
        for (QAbstractButton* button : m_view->findChildren<QAbstractButton*>()) {
            if (button->isDown())
                button->setDown(false);
        }
        if (auto* button = qobject_cast<QAbstractButton*>(m_view.data());
            button && button->isDown())
            button->setDown(false);
    }
    qApp->installEventFilter(m_escapeWatcher);
    setState(State::Began);
}

void PanGestureRecognizer::cancel()
{
    if (m_state == State::Began || m_state == State::Changed)
        setState(State::Cancelled);
    reset();
}

void PanGestureRecognizer::reset()
{
    if (qApp)
        qApp->removeEventFilter(m_escapeWatcher);
    m_armed = false;
    m_state = State::Possible;
}

// Where the pointer is in `view`, kept fractional: Qt hands on global positions rounded.
static QPointF positionIn(const QWidget* view, QObject* watched, const QMouseEvent* mouse)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!view || !widget || widget == view)
        return mouse->position();
    return widget->mapTo(view, mouse->position());
}

// Whether `watched` lies in another window than `view`: a popup made with the view as its
// parent (a context menu) is a child object, yet its drags are its own.
static bool inOtherWindow(const QWidget* view, QObject* watched)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    return view && widget && widget->window() != view->window();
}

bool PanGestureRecognizer::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        watch(static_cast<QChildEvent*>(event)->child());
        return false;
    case QEvent::MouseButtonPress:
        return !inOtherWindow(m_view, watched)
            && pressed(watched, static_cast<QMouseEvent*>(event));
    case QEvent::MouseMove:
        return !inOtherWindow(m_view, watched) && moved(watched, static_cast<QMouseEvent*>(event));
    case QEvent::MouseButtonRelease:
        if (!inOtherWindow(m_view, watched))
            released(watched, static_cast<QMouseEvent*>(event));
        return false;
    case QEvent::Hide:
        // Parts of the view come and go as it lays out; only the view hiding ends a pan.
        if (watched == m_view && m_armed)
            cancel();
        return false;
    case QEvent::WindowDeactivate:
    case QEvent::UngrabMouse:
        if (m_armed)
            cancel();
        return false;
    default:
        return false;
    }
}

bool PanGestureRecognizer::pressed(QObject* watched, QMouseEvent* mouse)
{
    if (m_state == State::Began || m_state == State::Changed) {
        // A second button during a pan.
        cancel();
        return true;
    }
    if (mouse->button() != Qt::LeftButton)
        return false;
    // The same press passed on to a parent arrives again at the same place.
    const QPointF at = positionIn(m_view, watched, mouse);
    if (m_armed && at == m_start)
        return false;
    m_armed = true;
    m_start = m_current = at;
    return false;
}

bool PanGestureRecognizer::moved(QObject* watched, QMouseEvent* mouse)
{
    if (!m_armed || !(mouse->buttons() & Qt::LeftButton))
        return false;
    m_current = positionIn(m_view, watched, mouse);
    if (m_state == State::Possible) {
        const QPointF travelled = m_current - m_start;
        if (std::hypot(travelled.x(), travelled.y()) < threshold)
            return false;
        begin();
    } else {
        setState(State::Changed);
    }
    return true;
}

void PanGestureRecognizer::released(QObject* watched, QMouseEvent* mouse)
{
    if (!m_armed || mouse->button() != Qt::LeftButton)
        return;
    if (m_state == State::Began || m_state == State::Changed) {
        m_current = positionIn(m_view, watched, mouse);
        setState(State::Ended);
    }
    // The release goes on: a button that took the press forgets it, and no longer down, it
    // does not click.
    reset();
}

} // namespace Tickerly::AppKit

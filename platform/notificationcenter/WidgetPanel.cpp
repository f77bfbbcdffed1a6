#include "platform/notificationcenter/WidgetPanel.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>

#if TICKERLY_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace Tickerly::WidgetHost {

using namespace Tickerly::WidgetInterface;

using namespace Qt::Literals::StringLiterals;

namespace {

// The panel's colours: the widget draws light text on a dark ground.
const QColor panelBackground(30, 31, 35);
const QColor panelBorder(62, 64, 70);
const QColor panelTitle(200, 202, 208);
const QColor panelText(235, 236, 240);

int points(double value) { return static_cast<int>(std::lround(std::max(0.0, value))); }

#if TICKERLY_HAVE_XCB
xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}
#endif

// On X11 the panel is a dock, which window managers keep on top and out of the task bar; it
// also says so for task bars that list every window. Set before each mapping: the window
// manager drops the state when the window is withdrawn, and Qt keeps what it finds there (it
// writes the type only from its own window flags, as a utility window).
void declareDock(QWidget* window)
{
#if TICKERLY_HAVE_XCB
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t type = atom(connection, "_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id,
        atom(connection, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
    const xcb_atom_t states[] = { atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
        atom(connection, "_NET_WM_STATE_SKIP_PAGER") };
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_STATE"),
        XCB_ATOM_ATOM, 32, 2, states);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

// Reserves the strip from the panel's left edge to the right edge of the screen, over the
// screen's whole height, as desktop panels do: the window manager then places and maximises
// other windows beside it. X11 counts in device pixels from the root window's edges.
// Returns the reserved width, 0 where the panel's screen is not at the right of the desktop
// (a strut counts from the root window's edge) or where there is no X11.
int reserveRightEdge(QWidget* panel, const QRect& screen)
{
#if TICKERLY_HAVE_XCB
    xcb_connection_t* connection = x11Connection();
    if (!connection || !panel->windowHandle())
        return 0;
    const qreal ratio = panel->windowHandle()->devicePixelRatio();
    const QRect root = panel->screen()->virtualGeometry();
    const auto device
        = [ratio](int logical) { return static_cast<uint32_t>(std::lround(logical * ratio)); };
    const int reserved = screen.right() == root.right() ? root.right() + 1 - panel->x() : 0;
    const uint32_t width = device(reserved);
    const uint32_t top = device(screen.top() - root.top());
    const uint32_t bottom = device(screen.bottom() + 1 - root.top()) - 1;
    // left, right, top, bottom, then the start and end of each: left, right, top, bottom.
    const uint32_t partial[12] = { 0, width, 0, 0, 0, 0, top, bottom, 0, 0, 0, 0 };
    const auto window = static_cast<xcb_window_t>(panel->winId());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window,
        atom(connection, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12, partial);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window,
        atom(connection, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 32, 4, partial);
    xcb_flush(connection);
    return reserved;
#else
    (void)panel;
    (void)screen;
    return 0;
#endif
}

} // namespace

WidgetPanel::WidgetPanel(std::unique_ptr<WidgetViewController> controller, const QString& title)
    // A tool window on top, and a dock to a window manager that knows docks, as a desktop's
    // widget panel is.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_controller(std::move(controller))
    , m_title(title)
{
    setWindowTitle(title);
    QPalette colours = palette();
    for (QPalette::ColorRole role : { QPalette::Window, QPalette::Base, QPalette::Button })
        colours.setColor(role, panelBackground);
    for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        colours.setColor(role, panelText);
    setPalette(colours);
    setAutoFillBackground(true);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(false);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_scrollArea->viewport()->installEventFilter(this);

    m_view = m_controller->view();
    if (m_view) {
        m_scrollArea->setWidget(m_view);
        m_view->installEventFilter(this);
    }
    m_insets
        = m_controller->provider().widgetMarginInsetsForProposedMarginInsets(proposedMarginInsets);
    followView();
}

WidgetPanel::~WidgetPanel()
{
    delete m_view.data();
    m_controller.reset();
}

void WidgetPanel::Show()
{
    // Stays on top by its flags; showing is all it takes to bring it back.
    show();
}

bool WidgetPanel::event(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::ScreenChangeInternal)
        scheduleFollow();
    return QWidget::event(event);
}

bool WidgetPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The view's own size, or what it asks of its parent, changed.
    if (event->type() == QEvent::LayoutRequest
        && (watched == m_view || watched == m_scrollArea->viewport()))
        scheduleFollow();
    return QWidget::eventFilter(watched, event);
}

void WidgetPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_inView)
        return;
    // Sent before the window is mapped.
    if (!event->spontaneous())
        declareDock(this);
    m_inView = true;
    m_insets
        = m_controller->provider().widgetMarginInsetsForProposedMarginInsets(proposedMarginInsets);
    followView();
    requestUpdate();
}

void WidgetPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_inView = false;
}

void WidgetPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    // Ctrl+Q whatever the platform's key bindings say: not every theme binds it to quitting.
    if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        Q_EMIT quitRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WidgetPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(11);
    painter.setFont(font);
    painter.setPen(panelTitle);
    painter.drawText(
        QRect(12, 0, width() - 24, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    painter.setPen(panelBorder);
    painter.drawLine(0, titleHeight - 1, width(), titleHeight - 1);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void WidgetPanel::scheduleFollow()
{
    if (m_followScheduled)
        return;
    m_followScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_followScheduled = false;
            followView();
        },
        Qt::QueuedConnection);
}

void WidgetPanel::followView()
{
    const int left = points(m_insets.left);
    const int right = points(m_insets.right);
    const int top = points(m_insets.top);
    const int bottom = points(m_insets.bottom);
    const int inner = std::max(0, panelWidth - left - right);

    int wanted = 0;
    if (m_view) {
        const QSize hint = m_view->sizeHint();
        wanted = hint.height() >= 0 ? hint.height() : m_view->height();
    }
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    // The strip the panel reserves is where it stands, not room taken from it.
    if (screen && m_reservedWidth > 0)
        available.setRight(
            std::min(screen->geometry().right(), available.right() + m_reservedWidth));
    const int room = std::max(0, available.height() - 2 * screenGap - titleHeight - top - bottom);
    const bool scrolls = wanted > room;
    const int areaHeight = std::min(wanted, room);

    m_scrollArea->setVerticalScrollBarPolicy(
        scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_scrollArea->setGeometry(left, titleHeight + top, inner, areaHeight);
    if (m_view) {
        const int barWidth = scrolls ? m_scrollArea->verticalScrollBar()->sizeHint().width() : 0;
        m_view->resize(std::max(0, inner - barWidth), wanted);
    }
    const QSize size(panelWidth, titleHeight + top + areaHeight + bottom);
    resize(size);
    move(available.right() + 1 - screenGap - size.width(), available.top() + screenGap);
    if (screen && testAttribute(Qt::WA_WState_Created))
        m_reservedWidth = reserveRightEdge(this, screen->geometry());
}

void WidgetPanel::requestUpdate()
{
    // The widget must answer once; a second answer is a widget fault, logged and dropped.
    auto answered = std::make_shared<bool>(false);
    QPointer<WidgetPanel> panel(this);
    m_controller->provider().widgetPerformUpdateWithCompletionHandler(
        [answered, panel](NCUpdateResult result) {
            if (*answered) {
                qWarning("The widget finished one update twice; the second answer is ignored.");
                return;
            }
            *answered = true;
            if (!panel)
                return;
            ++panel->m_completedUpdates;
            Q_EMIT panel->updateCompleted(result);
        });
}

} // namespace Tickerly::WidgetHost

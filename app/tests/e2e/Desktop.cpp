#include "app/tests/e2e/Desktop.h"

#include "testsupport/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QRegularExpression>
#include <QRect>
#include <QScreen>
#include <QStandardPaths>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace Tickerly;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace Tickerly::App::E2E {

Program::Program(const QString& executable, const QStringList& environment)
{
    m_process.setProgram(executable);
    m_process.setEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] { m_output += m_process.readAll(); });
    m_process.start();
    m_process.waitForStarted(30000);
}

Program::~Program()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

std::optional<int> Program::waitForExit(int timeoutMs)
{
    if (!TestSupport::waitFor([this] { return !isRunning(); }, timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return std::nullopt;
    }
    if (m_process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return m_process.exitCode();
}

QString Program::output()
{
    m_output += m_process.readAll();
    return QString::fromLocal8Bit(m_output);
}

Desktop::Desktop(QString screenshotDir)
    : m_dir(std::move(screenshotDir))
{
    QDir().mkpath(m_dir);
}

bool Desktop::available()
{
    return QGuiApplication::platformName() == u"xcb"
        && !QStandardPaths::findExecutable(u"xdotool"_s).isEmpty();
}

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

} // namespace

bool Desktop::waitForWindowManager(int timeoutMs)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return false;
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Never mapped: only a question to ask about.
    const xcb_window_t probe = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t request = atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atom(connection, "_NET_FRAME_EXTENTS");
    const auto ask = [&] {
        xcb_client_message_event_t message {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = probe;
        message.type = request;
        xcb_send_event(connection, 0, root,
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char*>(&message));
        xcb_flush(connection);
    };
    const auto answered = [&] {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection,
            xcb_get_property(connection, 0, probe, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr);
        const bool found = reply && reply->format == 32 && reply->value_len == 4;
        std::free(reply);
        return found;
    };
    // Asked again each second while unanswered: a window manager can read requests while it
    // starts up and then sleep on them until the next one arrives (openbox 3.6 does; a program's
    // window mapped meanwhile is never taken on). Every question is the same, harmless one.
    QDeadlineTimer deadline(timeoutMs);
    bool served = false;
    while (!served && !deadline.hasExpired()) {
        ask();
        served = poll(answered, std::min<qint64>(1000, deadline.remainingTime()), 50);
    }
    xcb_destroy_window(connection, probe);
    xcb_flush(connection);
    return served;
}

namespace {

// Longer than any wait that needs the program's work: on a busy machine a click or a key
// can take seconds, and one killed half-way is a click never made.
constexpr int toolBoundMs = 60000;

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(toolBoundMs)) {
        qWarning("%s did not end within %d s", qPrintable(program), toolBoundMs / 1000);
        process.kill();
        process.waitForFinished();
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

QString Desktop::xdotool(const QStringList& arguments)
{
    return run(u"xdotool"_s, arguments).trimmed();
}

std::optional<QString> Desktop::largestWindow(const QStringList& search, int timeoutMs)
{
    // Untitled windows (a sheet, a panel) carry the program's name too: the largest one is the
    // window a person means.
    QString found;
    poll(
        [&] {
            int largest = 0;
            const QString ids
                = xdotool(QStringList { u"search"_s, u"--all"_s, u"--onlyvisible"_s } + search);
            for (const QString& id : ids.split(u'\n', Qt::SkipEmptyParts)) {
                const QRect rect = geometry(id);
                if (rect.width() * rect.height() > largest) {
                    largest = rect.width() * rect.height();
                    found = id;
                }
            }
            return !found.isEmpty();
        },
        timeoutMs);
    if (found.isEmpty())
        return std::nullopt;
    return found;
}

std::optional<QString> Desktop::waitForWindow(const QString& title, int timeoutMs)
{
    // The pattern goes last: xdotool reads options only up to it.
    QStringList search;
    if (m_pid > 0)
        search += { u"--pid"_s, QString::number(m_pid) };
    search += { u"--name"_s, u'^' + QRegularExpression::escape(title) + u'$' };
    return largestWindow(search, timeoutMs);
}

std::optional<QString> Desktop::waitForWindowOf(qint64 pid, int timeoutMs)
{
    return largestWindow({ u"--pid"_s, QString::number(pid) }, timeoutMs);
}

bool Desktop::waitForNoWindow(const QString& title, int timeoutMs)
{
    QStringList search { u"search"_s, u"--all"_s, u"--onlyvisible"_s };
    if (m_pid > 0)
        search += { u"--pid"_s, QString::number(m_pid) };
    search += { u"--name"_s, u'^' + QRegularExpression::escape(title) + u'$' };
    return poll([&] { return xdotool(search).isEmpty(); }, timeoutMs);
}

QRect Desktop::geometry(const QString& window)
{
    // "X=..\nY=..\nWIDTH=..\nHEIGHT=..\nSCREEN=.."
    QRect rect;
    const QStringList lines
        = xdotool({ u"getwindowgeometry"_s, u"--shell"_s, window }).split(u'\n');
    for (const QString& line : lines) {
        const int value = line.section(u'=', 1).toInt();
        if (line.startsWith(u"X="))
            rect.moveLeft(value);
        else if (line.startsWith(u"Y="))
            rect.moveTop(value);
        else if (line.startsWith(u"WIDTH="))
            rect.setWidth(value);
        else if (line.startsWith(u"HEIGHT="))
            rect.setHeight(value);
    }
    return rect;
}

namespace {

// The numbers of an X property of cardinals ("NAME(CARDINAL) = 1, 2, 3"); none when it is not
// set.
QList<int> cardinals(const QStringList& xpropArguments)
{
    QList<int> numbers;
    const QString line = run(u"xprop"_s, xpropArguments);
    if (!line.contains(u'='))
        return numbers;
    for (const QString& part : line.section(u'=', 1).split(u',')) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok)
            return {};
        numbers.append(n);
    }
    return numbers;
}

} // namespace

QRect Desktop::clientArea(const QString& window)
{
    // xwininfo tells where the client area lies on the root window also inside a frame.
    QRect client;
    const QString info = run(u"xwininfo"_s, { u"-id"_s, window });
    static const QRegularExpression field(
        uR"(^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s*(-?\d+))"_s,
        QRegularExpression::MultilineOption);
    for (auto it = field.globalMatch(info); it.hasNext();) {
        const auto match = it.next();
        const int value = match.captured(2).toInt();
        const QString name = match.captured(1);
        if (name.endsWith(u'X'))
            client.moveLeft(value);
        else if (name.endsWith(u'Y'))
            client.moveTop(value);
        else if (name == u"Width")
            client.setWidth(value);
        else
            client.setHeight(value);
    }
    return client;
}

QRect Desktop::frameGeometry(const QString& window)
{
    const QRect client = clientArea(window);
    // Left, right, top, bottom.
    const QList<int> extents = cardinals({ u"-id"_s, window, u"_NET_FRAME_EXTENTS"_s });
    if (extents.size() != 4)
        return client;
    return client.adjusted(-extents[0], -extents[2], extents[1], extents[3]);
}

void Desktop::watchClients()
{
    // The root's list of managed windows, printed again on every change.
    m_clientWatch.start(u"xprop"_s, { u"-root"_s, u"-spy"_s, u"_NET_CLIENT_LIST"_s });
    m_clientWatch.waitForStarted(30000);
    poll([this] { return m_clientWatch.bytesAvailable() > 0; }, 30000, 20);
}

QStringList Desktop::clientsSeen(const QString& last)
{
    static const QRegularExpression id(u"0x[0-9a-f]+"_s);
    QString output;
    QStringList seen;
    const auto read = [&] {
        output += QString::fromUtf8(m_clientWatch.readAllStandardOutput());
        for (auto it = id.globalMatch(output); it.hasNext();) {
            // xdotool names windows in decimal.
            const QString decimal = QString::number(it.next().captured().toULongLong(nullptr, 16));
            if (!seen.contains(decimal))
                seen.append(decimal);
        }
        return seen.contains(last);
    };
    poll(read, 30000, 20);
    m_clientWatch.terminate();
    m_clientWatch.waitForFinished(5000);
    return seen;
}

bool Desktop::maximise(const QString& window)
{
    const QRect frame = frameGeometry(window);
    const QRect client = clientArea(window);
    if (frame.top() >= client.top())
        return false; // no title bar to click
    const QPoint title(frame.center().x(), (frame.top() + client.top()) / 2);
    xdotool(
        { u"mousemove"_s, u"--sync"_s, QString::number(title.x()), QString::number(title.y()) });
    xdotool({ u"click"_s, u"--repeat"_s, u"2"_s, u"--delay"_s, u"60"_s, u"1"_s });
    return poll(
        [&] {
            return run(u"xprop"_s, { u"-id"_s, window, u"_NET_WM_STATE"_s })
                .contains(u"_NET_WM_STATE_MAXIMIZED_HORZ"_s);
        },
        30000);
}

QRect Desktop::workArea()
{
    const QList<int> area = cardinals({ u"-root"_s, u"_NET_WORKAREA"_s });
    if (area.size() >= 4)
        return QRect(area[0], area[1], area[2], area[3]);
    return QGuiApplication::primaryScreen()->geometry();
}

void Desktop::move(const QString& window, const QPoint& point)
{
    xdotool({ u"windowmove"_s, u"--sync"_s, window, QString::number(point.x()),
        QString::number(point.y()) });
    TestSupport::processEvents();
}

void Desktop::key(const QString& window, const QString& chord)
{
    // Without a window manager nobody else hands out the keyboard.
    xdotool({ u"windowfocus"_s, u"--sync"_s, window });
    xdotool({ u"key"_s, u"--clearmodifiers"_s, chord });
    TestSupport::processEvents();
}

bool Desktop::typeUntil(
    const QString& into, const QString& chord, const std::function<bool()>& done)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (const auto window = waitForWindow(into))
            key(*window, chord);
        if (poll(done, 15000))
            return true;
    }
    return false;
}

std::optional<QString> Desktop::openWith(
    const QString& into, const QString& chord, const QString& title)
{
    std::optional<QString> opened;
    typeUntil(into, chord, [&] {
        opened = waitForWindow(title, 0);
        return opened.has_value();
    });
    return opened;
}

void Desktop::type(const QString& text) { xdotool({ u"type"_s, u"--delay"_s, u"20"_s, text }); }

void Desktop::click(const QPoint& point)
{
    xdotool(
        { u"mousemove"_s, u"--sync"_s, QString::number(point.x()), QString::number(point.y()) });
    // As a hand does: the pointer comes to rest over the control (which shows it hovered)
    // before the button goes down.
    settledScreen();
    xdotool({ u"mousedown"_s, u"1"_s });
    xdotool({ u"mouseup"_s, u"1"_s });
}

void Desktop::drag(const QPoint& from, const QPoint& to)
{
    const auto moveTo = [this](const QPoint& point) {
        xdotool({ u"mousemove"_s, u"--sync"_s, QString::number(point.x()),
            QString::number(point.y()) });
    };
    moveTo(from);
    // As a hand does: the list is at rest under the pointer before the button goes down.
    settledScreen();
    xdotool({ u"mousedown"_s, u"1"_s });
    constexpr int steps = 12;
    for (int i = 1; i <= steps; ++i)
        moveTo(from + (to - from) * i / steps);
    xdotool({ u"mouseup"_s, u"1"_s });
}

QImage Desktop::settledScreen()
{
    // The programs draw in their own time: the screen has settled once two grabs a moment apart
    // agree (an animation that never rests is taken as it is after a while).
    QImage last;
    QImage grab;
    poll(
        [&] {
            last = std::exchange(grab, QGuiApplication::primaryScreen()->grabWindow(0).toImage());
            return grab == last;
        },
        3000, 250);
    return grab;
}

QImage Desktop::grab(const QString& window) { return settledScreen().copy(geometry(window)); }

QString Desktop::screenshot(const QString& name)
{
    const QString path = QDir(m_dir).filePath(u"e2e-"_s + name + u".png"_s);
    settledScreen().save(path);
    return path;
}

bool poll(const std::function<bool()>& condition, int timeoutMs, int everyMs)
{
    QElapsedTimer since;
    bool asked = false;
    return TestSupport::waitFor(
        [&] {
            if (asked && since.elapsed() < everyMs)
                return false;
            asked = true;
            since.restart();
            return condition();
        },
        timeoutMs);
}

} // namespace Tickerly::App::E2E

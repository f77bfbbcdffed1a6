#pragma once

#include "app/Namespace.h"

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Tickerly::App {

// The person at the desktop of an end-to-end session: starts the real programs, finds their
// windows, types and clicks into them through the X server (xdotool), and keeps screenshots of
// the whole screen. Main thread of the test.
namespace E2E {

// One running program of the product, with the session's environment.
class Program {
public:
    Program(const QString& executable, const QStringList& environment);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    // Waits until the program has ended by itself; its exit code, or nothing past the bound
    // (then it is killed).
    std::optional<int> waitForExit(int timeoutMs);
    // What it printed, for the failure message.
    QString output();

private:
    QProcess m_process;
    QByteArray m_output;
};

class Desktop {
public:
    explicit Desktop(QString screenshotDir);

    // Whether the test runs on an X server with xdotool at hand.
    static bool available();

    // Waits until a window manager serves requests: it has answered one for the frame a window
    // would get. Programs started before then may map windows it never takes on.
    bool waitForWindowManager(int timeoutMs = 60000);

    // Windows are looked for among this program's only (two programs may title windows alike).
    void setProgram(qint64 pid) { m_pid = pid; }
    // The largest visible window of the program `pid`, waiting up to `timeoutMs`: a program
    // just started on a busy machine can take tens of seconds to show its first window.
    std::optional<QString> waitForWindowOf(qint64 pid, int timeoutMs = 60000);
    // The visible top-level window titled exactly `title`, waiting up to `timeoutMs`.
    std::optional<QString> waitForWindow(const QString& title, int timeoutMs = 60000);
    // Whether no visible window is titled `title` any more, waiting up to `timeoutMs`.
    bool waitForNoWindow(const QString& title, int timeoutMs = 30000);
    // The window's place on the screen (its client area).
    QRect geometry(const QString& window);
    // The window with the window manager's frame around it (title bar included), once the
    // window manager has framed it; its client area where no window manager frames windows.
    QRect frameGeometry(const QString& window);
    // Notes every window the window manager takes on from now (however briefly it shows) until
    // clientsSeen(), which waits until `last` is among them and returns them all.
    void watchClients();
    QStringList clientsSeen(const QString& last);
    // Maximises `window` as a person does, with a double click on its title bar, and waits
    // until the window manager says it is maximised.
    bool maximise(const QString& window);
    // The part of the screen that windows may take (the window manager's work area, or the
    // whole screen).
    QRect workArea();
    // Moves the window's top left corner to `point`, waiting until it is there.
    void move(const QString& window, const QPoint& point);

    // Gives `window` the keyboard and types a key chord ("ctrl+comma", "Tab", "space").
    void key(const QString& window, const QString& chord);
    // Types `chord` into `window` until `done` holds, a few times at most: keys sent to a window
    // that has just appeared, or that lies under another, can be lost.
    bool typeUntil(const QString& window, const QString& chord, const std::function<bool()>& done);
    // Types `chord` into `window` until a window titled `title` shows; that window.
    std::optional<QString> openWith(
        const QString& window, const QString& chord, const QString& title);
    // Types `text` into whatever has the keyboard.
    void type(const QString& text);
    // Presses and releases the left button at `point` on the screen.
    void click(const QPoint& point);

    // Presses the left button at `from`, moves to `to` in small steps, and lets go there.
    void drag(const QPoint& from, const QPoint& to);

    // What the window shows, once the screen has settled.
    QImage grab(const QString& window);
    // Saves the whole screen as "e2e-<name>.png" once it has settled; returns its path.
    QString screenshot(const QString& name);

private:
    QImage settledScreen();
    // The window's client area on the root window, read inside the window manager's frame.
    QRect clientArea(const QString& window);
    QString xdotool(const QStringList& arguments);
    std::optional<QString> largestWindow(const QStringList& search, int timeoutMs);
    QString m_dir;
    qint64 m_pid = 0;
    QProcess m_clientWatch;
};

// Waits on the event loop until `condition` holds, asking it at most every `everyMs`
// (conditions here start programs or read the store).
bool poll(const std::function<bool()>& condition, int timeoutMs, int everyMs = 100);

} // namespace E2E

} // namespace Tickerly::App

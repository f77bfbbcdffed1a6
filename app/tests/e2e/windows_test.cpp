// The application's windows on a desktop with a window manager: an X server of the test's own
// with openbox, and the real program as a separate process.

#include "app/tests/e2e/Desktop.h"

#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::App;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString sourcesTitle = u"Tickerly"_s;

QString describe(const QRect& r)
{
    return u"%1,%2 %3x%4"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

class Windows : public testing::Test {
protected:
    void SetUp() override
    {
        if (!E2E::Desktop::available() || QStandardPaths::findExecutable(u"openbox"_s).isEmpty())
            GTEST_SKIP()
                << "needs an X server, xdotool and openbox (ctest starts its own X server)";
        m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
        m_windowManager.start(u"openbox"_s, { u"--sm-disable"_s });
        ASSERT_TRUE(m_windowManager.waitForStarted(30000));
        // Announcing itself on the root window is not yet serving: only once it answers does a
        // program's window reach it.
        ASSERT_TRUE(m_desktop.waitForWindowManager());
        ASSERT_EQ(m_windowManager.state(), QProcess::Running)
            << m_windowManager.readAll().toStdString();
    }

    void TearDown() override
    {
        // Gone before the next test starts one of its own, which would find this one still in
        // charge of the screen.
        if (m_windowManager.state() != QProcess::NotRunning) {
            m_windowManager.terminate();
            if (!m_windowManager.waitForFinished(30000)) {
                m_windowManager.kill();
                m_windowManager.waitForFinished(30000);
            }
        }
    }

    static QStringList environment(const QString& scale = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        if (!scale.isEmpty())
            env.insert(u"QT_SCALE_FACTOR"_s, scale);
        return env.toStringList();
    }

    std::unique_ptr<E2E::Program> startApplication(const QString& scale = {})
    {
        return std::make_unique<E2E::Program>(
            TestSupport::helperPath(u"Tickerly_Mac"_s), environment(scale));
    }

    // Waits until the window manager has framed `window` and the frame lies in the work area.
    void expectFrameOnScreen(const QString& window, const QString& name)
    {
        QRect frame;
        const QRect area = m_desktop.workArea();
        const bool inside = E2E::poll(
            [&] {
                frame = m_desktop.frameGeometry(window);
                return frame.height() > m_desktop.geometry(window).height() && area.contains(frame);
            },
            30000);
        EXPECT_TRUE(inside) << name.toStdString() << " framed at " << describe(frame).toStdString()
                            << ", work area " << describe(area).toStdString();
    }

    QProcess m_windowManager;
    E2E::Desktop m_desktop { QStringLiteral(TICKERLY_SCREENSHOT_DIR) };
};

TEST_F(Windows, EachOpensWithItsWholeFrameOnTheScreenAndASecondStartHandsOver)
{
    auto application = startApplication();
    m_desktop.setProgram(application->pid());
    const auto sources = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(sources) << application->output().toStdString();
    expectFrameOnScreen(*sources, u"the sources window"_s);
    m_desktop.screenshot(u"windows-1-sources"_s);

    // Nothing but the stories window shows on the way, not even for a moment.
    m_desktop.watchClients();
    const auto stories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, u"Stories"_s);
    ASSERT_TRUE(stories) << application->output().toStdString();
    QStringList seen = m_desktop.clientsSeen(*stories);
    seen.removeAll(*sources);
    seen.removeAll(*stories);
    for (const QString& stray : seen)
        ADD_FAILURE() << "a window showed while the stories window opened: " << stray.toStdString();
    expectFrameOnScreen(*stories, u"the stories window"_s);
    m_desktop.screenshot(u"windows-2-stories"_s);

    const auto preferences = m_desktop.openWith(sourcesTitle, u"ctrl+comma"_s, u"Preferences"_s);
    ASSERT_TRUE(preferences) << application->output().toStdString();
    expectFrameOnScreen(*preferences, u"the preferences window"_s);
    m_desktop.screenshot(u"windows-3-preferences"_s);

    // With the sources window closed, a second start brings it back in the running program and
    // ends at once.
    ASSERT_TRUE(m_desktop.typeUntil(
        sourcesTitle, u"ctrl+w"_s, [&] { return m_desktop.waitForNoWindow(sourcesTitle, 0); }));
    auto second = startApplication();
    EXPECT_EQ(second->waitForExit(30000), std::optional<int>(0)) << second->output().toStdString();
    EXPECT_TRUE(application->isRunning()) << application->output().toStdString();
    const auto again = m_desktop.waitForWindow(sourcesTitle, 30000);
    EXPECT_TRUE(again);
    m_desktop.screenshot(u"windows-4-second-start"_s);

    m_desktop.typeUntil(u"Stories"_s, u"ctrl+q"_s, [&] { return !application->isRunning(); });
    EXPECT_EQ(application->waitForExit(30000), std::optional<int>(0))
        << application->output().toStdString();
}

TEST_F(Windows, AtAScaleOfTwoEachOpensWithinTheWorkArea)
{
    auto application = startApplication(u"2"_s);
    m_desktop.setProgram(application->pid());
    const auto sources = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(sources) << application->output().toStdString();
    expectFrameOnScreen(*sources, u"the sources window"_s);
    const auto stories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, u"Stories"_s);
    ASSERT_TRUE(stories) << application->output().toStdString();
    expectFrameOnScreen(*stories, u"the stories window"_s);
    const auto preferences = m_desktop.openWith(sourcesTitle, u"ctrl+comma"_s, u"Preferences"_s);
    ASSERT_TRUE(preferences) << application->output().toStdString();
    expectFrameOnScreen(*preferences, u"the preferences window"_s);
    m_desktop.screenshot(u"windows-scale-2"_s);
}

TEST_F(Windows, TheWidgetPanelKeepsItsEdgeAndTheWindowsOpenAndMaximiseBesideIt)
{
    E2E::Program host(TestSupport::helperPath(u"Tickerly_Widget_Host"_s), environment());
    const auto panelWindow = m_desktop.waitForWindowOf(host.pid());
    ASSERT_TRUE(panelWindow) << host.output().toStdString();
    QRect panel;
    // The work area ends where the panel begins.
    EXPECT_TRUE(E2E::poll(
        [&] {
            panel = m_desktop.frameGeometry(*panelWindow);
            return m_desktop.workArea().right() < panel.left();
        },
        30000))
        << "panel at " << describe(panel).toStdString() << ", work area "
        << describe(m_desktop.workArea()).toStdString();

    auto application = startApplication();
    m_desktop.setProgram(application->pid());
    const auto expectBeside = [&](const QString& window, const QString& name) {
        expectFrameOnScreen(window, name);
        const QRect frame = m_desktop.frameGeometry(window);
        EXPECT_FALSE(frame.intersects(panel))
            << name.toStdString() << " framed at " << describe(frame).toStdString()
            << ", the panel at " << describe(panel).toStdString();
    };
    const auto sources = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(sources) << application->output().toStdString();
    expectBeside(*sources, u"the sources window"_s);
    ASSERT_TRUE(m_desktop.maximise(*sources));
    expectBeside(*sources, u"the maximised sources window"_s);
    m_desktop.screenshot(u"windows-maximised-beside-panel"_s);

    const auto stories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, u"Stories"_s);
    ASSERT_TRUE(stories) << application->output().toStdString();
    expectBeside(*stories, u"the stories window"_s);
    ASSERT_TRUE(m_desktop.maximise(*stories));
    expectBeside(*stories, u"the maximised stories window"_s);
}

} // namespace

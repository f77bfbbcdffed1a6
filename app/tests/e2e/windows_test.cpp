// The application's windows on a desktop with a window manager: an X server of the test's own
// with openbox, and the real program as a separate process.

#include "app/tests/e2e/Desktop.h"

#include "testsupport/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

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
        if (!e2e::Desktop::available() || QStandardPaths::findExecutable(u"openbox"_s).isEmpty())
            GTEST_SKIP()
                << "needs an X server, xdotool and openbox (ctest starts its own X server)";
        m_windowManager.start(u"openbox"_s, { u"--sm-disable"_s });
        ASSERT_TRUE(m_windowManager.waitForStarted(5000));
        // Running once it has announced itself on the root window.
        ASSERT_TRUE(e2e::poll(
            [] {
                QProcess xprop;
                xprop.start(u"xprop"_s, { u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s });
                xprop.waitForFinished(5000);
                return xprop.readAllStandardOutput().contains("window id");
            },
            10000));
    }

    void TearDown() override
    {
        if (m_windowManager.state() != QProcess::NotRunning) {
            m_windowManager.terminate();
            m_windowManager.waitForFinished(5000);
        }
    }

    std::unique_ptr<e2e::Program> startApplication()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        return std::make_unique<e2e::Program>(
            testsupport::helperPath(u"Tickerly_Mac"_s), env.toStringList());
    }

    // Waits until the window manager has framed `window` and the frame lies in the work area.
    void expectFrameOnScreen(const QString& window, const QString& name)
    {
        QRect frame;
        const QRect area = m_desktop.workArea();
        const bool inside = e2e::poll(
            [&] {
                frame = m_desktop.frameGeometry(window);
                return frame.height() > m_desktop.geometry(window).height() && area.contains(frame);
            },
            5000);
        EXPECT_TRUE(inside) << name.toStdString() << " framed at " << describe(frame).toStdString()
                            << ", work area " << describe(area).toStdString();
    }

    QProcess m_windowManager;
    e2e::Desktop m_desktop { QStringLiteral(TICKERLY_SCREENSHOT_DIR) };
};

TEST_F(Windows, EachOpensWithItsWholeFrameOnTheScreenAndASecondStartHandsOver)
{
    auto application = startApplication();
    m_desktop.setProgram(application->pid());
    const auto sources = m_desktop.waitForWindow(sourcesTitle);
    ASSERT_TRUE(sources) << application->output().toStdString();
    expectFrameOnScreen(*sources, u"the sources window"_s);
    m_desktop.screenshot(u"windows-1-sources"_s);

    const auto stories = m_desktop.openWith(sourcesTitle, u"ctrl+1"_s, u"Stories"_s);
    ASSERT_TRUE(stories) << application->output().toStdString();
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
    EXPECT_EQ(second->waitForExit(20000), std::optional<int>(0)) << second->output().toStdString();
    EXPECT_TRUE(application->isRunning()) << application->output().toStdString();
    const auto again = m_desktop.waitForWindow(sourcesTitle, 10000);
    EXPECT_TRUE(again);
    m_desktop.screenshot(u"windows-4-second-start"_s);

    m_desktop.typeUntil(u"Stories"_s, u"ctrl+q"_s, [&] { return !application->isRunning(); });
    EXPECT_EQ(application->waitForExit(10000), std::optional<int>(0))
        << application->output().toStdString();
}

} // namespace

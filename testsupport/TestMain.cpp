// The main() of every test binary: a QApplication on the offscreen platform, and a fresh,
// empty data home for every test so that no test reads or writes a real home.

#include "platform/foundation/process/ProcessEnd.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace Tickerly;
using namespace Tickerly::TestSupport;

namespace {

class FreshDataHome : public testing::EmptyTestEventListener {
public:
    void OnTestStart(const testing::TestInfo&) override
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv(
            "XDG_DATA_HOME", QDir(m_dir->path()).filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME",
            QDir(m_dir->path()).filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv(
            "XDG_CACHE_HOME", QDir(m_dir->path()).filePath(QStringLiteral("cache")).toLocal8Bit());
        qputenv("HOME", m_dir->path().toLocal8Bit());
        // On a real X server the pointer stays where the last test program left it, and a new
        // window under it would start hovered: park it in the far corner, away from every window.
        if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
            if (QScreen* screen = QGuiApplication::primaryScreen())
                QCursor::setPos(screen, screen->geometry().bottomRight());
        }
    }
    void OnTestEnd(const testing::TestInfo&) override
    {
        TestSupport::processEvents();
        m_dir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No test may reach past loopback: URL sessions refuse every other address.
    qputenv("TICKERLY_LOOPBACK_ONLY", "1");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshDataHome);
    // As the programs end: what a test left running in the background ends before anything it
    // may use is destroyed.
    return Foundation::endProgram(RUN_ALL_TESTS());
}

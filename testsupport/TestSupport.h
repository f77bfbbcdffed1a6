#pragma once

#include "testsupport/Namespace.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <ostream>

namespace Tickerly::TestSupport {

// Helpers shared by every test binary.

// How long a test waits for what must come: far above what anything needs on a busy machine,
// and well under the time limit ctest gives a test. Also for QTest's own waits, whose default
// (5 s) a busy X server can pass.
inline constexpr int waitBoundMs = 30000;

// Runs the event loop until `condition` holds or `timeoutMs` has passed; returns whether it
// held. Never sleeps a fixed time.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = waitBoundMs);

// Runs the event loop for events already posted (and those they post), without waiting.
void processEvents();

// The per-test data home (XDG_DATA_HOME), made fresh and empty for every test.
QString dataHome();

// Path of a file under the source tree ("platform/foundation/tests/data/x.xml").
QString sourcePath(const QString& relative);

// Path of the shared real-world corpus (may not exist).
QString corpusPath(const QString& relative = {});

// The feed documents a test reads: the project's own (golden feeds, fuzz seeds) always, and the
// outside corpus of real-world feeds where it lies beside the checkout. A clone of the project
// alone has only the first. Prints how many of each it found; where TICKERLY_REQUIRE_CORPUS is
// set (as in CI), a missing outside corpus fails the calling test, so the corpus tests can never
// silently stop reading it.
struct FeedFiles {
    QStringList own;
    QStringList outside;
    QStringList all() const { return own + outside; }
};
FeedFiles feedFiles(const QString& test);

// Path of a helper executable built beside the test binaries.
QString helperPath(const QString& name);

QByteArray readFile(const QString& path);

// The number of different colours inside `area` of `image`, counted up to `enough`: a screenshot
// whose rows were painted has more than the one of their background.
int coloursIn(const QImage& image, const QRect& area, int enough = 16);

// `image` written in `format` ("PNG", "JPEG", ...), progressive where the format has it, at
// `quality` (-1: the writer's own).
QByteArray encodedImage(
    const QImage& image, const char* format, bool progressive = false, int quality = -1);
// `jpeg` with an Exif block saying the picture is drawn turned as `orientation` (1 to 8) says,
// as cameras and phones write it.
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);
// A GIF of 35 bytes whose canvas (logical screen) is `canvas`, one pixel drawn on it: decoded,
// the whole canvas.
QByteArray gifOfCanvas(QSize canvas);

} // namespace Tickerly::TestSupport

// Readable GoogleTest output for Qt text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << "QByteArray(" << b.size() << " bytes: \"" << b.left(200).toStdString()
        << (b.size() > 200 ? "...\")" : "\")");
}

inline void PrintTo(const QUrl& u, std::ostream* os)
{
    *os << "QUrl(\"" << u.toString().toStdString() << "\")";
}

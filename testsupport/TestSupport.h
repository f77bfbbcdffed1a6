#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <ostream>

// Helpers shared by every test binary.
namespace testsupport {

// Runs the event loop until `condition` holds or `timeoutMs` has passed; returns whether it
// held. Never sleeps a fixed time.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Runs the event loop for events already posted (and those they post), without waiting.
void processEvents();

// The per-test data home (XDG_DATA_HOME), made fresh and empty for every test.
QString dataHome();

// Path of a file under the source tree ("platform/foundation/tests/data/x.xml").
QString sourcePath(const QString& relative);

// Path of the shared real-world corpus (may not exist).
QString corpusPath(const QString& relative = {});

// Path of a helper executable built beside the test binaries.
QString helperPath(const QString& name);

QByteArray readFile(const QString& path);

} // namespace testsupport

// Readable GoogleTest output for Qt text.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << "QByteArray(" << b.size() << " bytes: \"" << b.left(200).toStdString()
        << (b.size() > 200 ? "...\")" : "\")");
}

inline void PrintTo(const QUrl& u, std::ostream* os)
{
    *os << "QUrl(\"" << u.toString().toStdString() << "\")";
}

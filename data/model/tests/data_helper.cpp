// The other program in the two-process tests of the data library: works on the shared suite of
// the data home it inherits.
//
//   data_helper userid                      (prints "ready", waits for a line, prints the id)

#include "data/model/UserInfo.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

int userId()
{
    std::printf("ready\n");
    std::fflush(stdout);
    // Every helper of a test starts asking at the same moment: when the test says so.
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 1;
    std::printf("%s\n", UserInfo::userId().toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    if (command == u"userid"_s)
        return userId();
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

#include <QApplication>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tickerly"_s);
    QApplication::setQuitOnLastWindowClosed(true);

    QWidget window;
    window.setWindowTitle(u"Tickerly"_s);
    window.resize(400, 600);
    window.show();
    return QApplication::exec();
}

// zrvterm: the operator's terminal for the ZRV regulator.

#include "CommandLine.h"
#include "Main_form.h"
#include "MessageBox.h"
#include "Product.h"
#include "Terminal.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    // --help and --version answer before any display is needed.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments);
    if (line.action != CommandLine::Run) {
        std::fputs(line.text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (line.userData) {
        QString why;
        const QString folder = userDataFolder(&why);
        if (folder.isEmpty() || !QDir::setCurrent(folder)) {
            std::fprintf(stderr, "zrvterm: %s\n", qPrintable(why.isEmpty() ? folder : why));
            return 1;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    Terminal terminal;
    terminal.main->show();
    if (!terminal.main->settingsProblem.isEmpty())
        ShowMessage(terminal.main->settingsProblem, QStringLiteral("Ошибка"));
    return QApplication::exec();
}

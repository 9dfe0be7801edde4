// zrvterm: the operator's terminal for the ZRV regulator.

#include "CommandLine.h"
#include "Main_form.h"
#include "Terminal.h"
#include "session/CloseOnSignal.h"
#include "windowbase/MessageBox.h"
#include "windowbase/Product.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    // --help and --version answer before any display is needed.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parseCommandLine(arguments);
    if (line.action == CommandLine::Refuse) {
        std::fputs(line.text.toLocal8Bit().constData(), stderr);
        return 2;
    }
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
    // However the main window closes ("Выход", its close box, a signal), the
    // program ends with it, even while the journal's progress window or a
    // dialogue is still up; the connection has been ended by then.
    terminal.onClosed = [] { QCoreApplication::exit(0); };
    closeOnSignals(&app, [&terminal] { terminal.main->close(); });
    terminal.main->show();
    if (!terminal.main->settingsProblem.isEmpty())
        ShowMessage(terminal.main->settingsProblem, QStringLiteral("Ошибка"));
    if (line.connectCom > 0) terminal.connectAtStart(line.connectCom, line.connectAddress, line.modemNumber);
    return QApplication::exec();
}

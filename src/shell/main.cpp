// zrvterm: the operator's terminal for the ZRV regulator.

#include "Main_form.h"
#include "MessageBox.h"
#include "Product.h"
#include "Terminal.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    Terminal terminal;
    terminal.main->show();
    if (!terminal.main->settingsProblem.isEmpty())
        ShowMessage(terminal.main->settingsProblem, QStringLiteral("Ошибка"));
    return QApplication::exec();
}

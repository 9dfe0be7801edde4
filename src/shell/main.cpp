// zrvterm: the operator's terminal for the ZRV regulator.

#include "Forms.h"
#include "Main_form.h"
#include "MessageBox.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    createForms();
    TMain* main = forms().main;
    main->show();
    if (!main->settingsProblem.isEmpty()) ShowMessage(main->settingsProblem, QStringLiteral("Ошибка"));
    const int rc = QApplication::exec();
    destroyForms();
    return rc;
}

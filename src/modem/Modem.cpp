#include "Modem.h"

#include "shell/About.h"
#include "shell/Main_form.h"

#include <QFormLayout>

TConnectModem::TConnectModem(TMain* main)
    : QDialog(main, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("Modem");
    setWindowTitle(QStringLiteral("Удаленное подключение"));
    setModal(true);
    Number = new QLineEdit(QString::fromUtf8(main->settings.phoneNumber.c_str()));
    Number->setObjectName("Number");
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Номер телефона:"), Number);
    setFixedSize(260, 140);
    placeAboveMainCentre(this, main);
}

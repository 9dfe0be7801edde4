#include "Time_form.h"

#include "shell/About.h"
#include "shell/Main_form.h"

TTimeZRV::TTimeZRV(TMain* main) : QDialog(main, Qt::Tool)
{
    setObjectName("Time_form");
    setWindowTitle(QStringLiteral("Время ZRV"));
    setModal(true);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    setFixedSize(206, 161);
    placeAboveMainCentre(this, main);
}

void TTimeZRV::done(int result)
{
    Timer1->stop();
    QDialog::done(result);
}

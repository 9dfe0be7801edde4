#include "Logprocessform.h"

#include "shell/About.h"
#include "shell/Main_form.h"

TLogProgress::TLogProgress(TMain* main)
    : QDialog(main, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("Logprocessform");
    setWindowTitle(QStringLiteral("Чтение журнала"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(16, 31, 249, 17);
    ProgressBar1->setRange(0, 32768);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ReadCaption = new QLabel(QStringLiteral("Прочитано записей:"), this);
    ReadCaption->setObjectName("ReadCaption");
    ReadCaption->setGeometry(16, 8, 112, 17);
    ReadCount = new QLabel(QStringLiteral("0"), this);
    ReadCount->setObjectName("ReadCount");
    ReadCount->setGeometry(128, 8, 57, 17);
    BitBtn1 = new QPushButton(QStringLiteral("Остановить"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(80, 62, 121, 25);
    resize(282, 105);
    placeAboveMainCentre(this, main);
}

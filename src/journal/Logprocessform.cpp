#include "Logprocessform.h"

#include "journal/Readlog.h"
#include "link/Select_form.h"
#include "monitor/Front_panel_form.h"
#include "shell/About.h"
#include "shell/Forms.h"
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
    ReadCaption->setBuddy(ReadCount);
    ReadCount->setGeometry(128, 8, 57, 17);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_BrowserStop), QStringLiteral("Остановить"), this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(80, 62, 121, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TLogProgress::BitBtn1Click);
    resize(282, 105);
    placeAboveMainCentre(this, main);
}

void TLogProgress::BitBtn1Click()
{
    if (TReadLog* reader = ReadLogThread()) reader->requestInterruption();
    if (TSelect* s = forms().select) {
        s->Monitoring->setEnabled(true);
        s->ExtControl->setEnabled(true);
        s->Disconnect->setEnabled(true);
    }
    if (TFront_Panel* p = forms().frontPanel) p->EnableButtonsForMode();
    hide();
}

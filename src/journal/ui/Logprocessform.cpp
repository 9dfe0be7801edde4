#include "Logprocessform.h"

#include "windowbase/ChildForm.h"

#include <QStyle>

TLogProgress::TLogProgress(QWidget* main, zrv::Session& session)
    : QDialog(main, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_session(session)
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

void TLogProgress::follow(zrv::JournalReply* reading)
{
    if (reading->refused()) return;
    ProgressBar1->setValue(0);
    ReadCount->setText(QStringLiteral("0"));
    show();
    connect(reading, &zrv::JournalReply::progress, this, [this](int wordsRead, int recordsRead) {
        ProgressBar1->setValue(wordsRead);
        ReadCaption->setText(QStringLiteral("Прочитано записей: "));
        ReadCount->setText(QString::number(recordsRead));
    });
    connect(reading, &zrv::JournalReply::finished, this, &QWidget::hide);
}

void TLogProgress::BitBtn1Click()
{
    // The reader ends after its current request; the commands come back at
    // once, and whatever they ask waits for that request.
    m_session.stop();
    hide();
}

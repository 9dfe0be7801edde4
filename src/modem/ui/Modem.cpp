#include "Modem.h"

#include "modem/ModemDialogue.h"
#include "windowbase/ChildForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace mdm = zrv::modem;

TConnectModem::TConnectModem(QWidget* main, const zrv::Settings& settings, zrv::Session& session)
    : QDialog(main, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_session(session)
{
    setObjectName("Modem");
    setWindowTitle(QStringLiteral("Удаленное подключение"));
    setModal(true);

    Button1 = new QPushButton(QStringLiteral("Отмена"));
    Button1->setObjectName("Button1");
    Bevel1 = new QFrame;
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    StaticText1 = new QLabel(QStringLiteral("Подключение к"));
    StaticText1->setObjectName("StaticText1");
    StaticText2 = new QLabel(QStringLiteral("Состояние:"));
    StaticText2->setObjectName("StaticText2");
    Number = new QLineEdit(QString::fromUtf8(settings.phoneNumber.c_str()));
    Number->setObjectName("Number");
    Number->setAccessibleName(QStringLiteral("Номер телефона"));
    StaticText1->setBuddy(Number);
    State = new QLabel;
    State->setObjectName("State");
    StaticText2->setBuddy(State);
    State->setFrameShape(QFrame::Panel);
    State->setFrameShadow(QFrame::Sunken);
    State->setMinimumWidth(150);
    Button2 = new QPushButton(QStringLiteral("Соединить"));
    Button2->setObjectName("Button2");
    Button2->setDefault(true);
    // The session supervises the dial; its timer keeps the window's old name.
    Timer1 = m_session.modemTimer();

    auto* grid = new QGridLayout(Bevel1);
    grid->addWidget(StaticText1, 0, 0);
    grid->addWidget(Number, 0, 1);
    grid->addWidget(StaticText2, 1, 0);
    grid->addWidget(State, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button2);
    buttons->addStretch();
    buttons->addWidget(Button1);
    auto* box = new QVBoxLayout(this);
    box->addWidget(Bevel1);
    box->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this, &TConnectModem::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TConnectModem::Button2Click);

    setFixedSize(300, sizeHint().height());
    placeAboveMainCentre(this, main);
}

void TConnectModem::follow(zrv::ConnectReply* connection)
{
    connect(connection, &zrv::ConnectReply::modemReady, this, &TConnectModem::runDialogue);
}

void TConnectModem::runDialogue()
{
    State->clear();
    Button2->setEnabled(true);
    if (m_dialWhenShown) {
        m_dialWhenShown = false;
        QTimer::singleShot(0, this, &TConnectModem::Button2Click);
    }
    exec();
}

void TConnectModem::Button2Click()
{
    State->setText(QStringLiteral("Набор номера..."));
    connect(m_session.ask(zrv::modem::Dial{Number->text().toStdString()}), &zrv::DialReply::dialled, this, &TConnectModem::DialResult);
    Button2->setEnabled(false);
}

void TConnectModem::DialResult(bool success, const QString& state)
{
    State->setText(state);
    if (success)
        accept();
    else
        Button2->setEnabled(true);
}

void TConnectModem::Button1Click()
{
    Button2->setEnabled(true);
    State->clear();
    m_session.ask(zrv::modem::CancelDial{});
    m_cancelling = true;
    QDialog::reject();
    m_cancelling = false;
}

void TConnectModem::reject()
{
    if (m_cancelling || !isVisible()) {
        QDialog::reject();
        return;
    }
    Button1Click();
}

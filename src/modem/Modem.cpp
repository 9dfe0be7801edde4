#include "Modem.h"

#include "link/ModbusTransact.h"
#include "modem/ModemDialogue.h"
#include "shell/About.h"
#include "shell/Main_form.h"

#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace mdm = zrv::modem;

TConnectModem::TConnectModem(TMain* main)
    : QDialog(main, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_main(main)
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
    Number = new QLineEdit(QString::fromUtf8(main->settings.phoneNumber.c_str()));
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
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(mdm::kTickInterval);

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
    connect(Timer1, &QTimer::timeout, this, &TConnectModem::Timer1Timer);

    setFixedSize(300, sizeHint().height());
    placeAboveMainCentre(this, main);
}

TConnectModem::~TConnectModem() = default;

bool TConnectModem::runDialogue()
{
    zrv::SerialLine* line = zrv::modbusLink().port();
    if (!line) return false;
    m_dialogue = std::make_unique<mdm::ModemDialogue>(*line);
    State->clear();
    Button2->setEnabled(true);
    const bool accepted = exec() == QDialog::Accepted;
    Timer1->stop();
    m_dialogue.reset();
    return accepted;
}

void TConnectModem::Button2Click()
{
    if (!m_dialogue) return;
    Timer1->stop();
    State->setText(QStringLiteral("Набор номера..."));
    m_dialogue->dial(Number->text().toUtf8().toStdString());
    Timer1->start();
    Button2->setEnabled(false);
}

void TConnectModem::Timer1Timer()
{
    if (!m_dialogue) return;
    const mdm::TickOutcome r = m_dialogue->tick();
    if (!r.finished()) return;
    // Nothing stays pending on the line: the next transaction owns it.
    Timer1->stop();
    State->setText(QString::fromStdString(r.state));
    if (r.success()) {
        accept();
    } else {
        Button2->setEnabled(true);
    }
}

void TConnectModem::Button1Click()
{
    Timer1->stop();
    Button2->setEnabled(true);
    if (m_dialogue) m_dialogue->abandon();
    State->clear();
    zrv::modbusLink().closePort();
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

void TConnectModem::HangUp()
{
    zrv::SerialLine* line = zrv::modbusLink().port();
    if (!line) return;
    TMain* main = m_main;
    mdm::HangUp(
        *line,
        [main](const std::string& text) {
            main->setDeviceStatus(QString::fromStdString(text));
            main->StatusPanel0->repaint();
        },
        [](std::chrono::milliseconds t) {
            // The window repaints and its timers run; no operator input gets
            // in while the disconnection is half done.
            QEventLoop loop;
            // Precise: a coarse timer may end a guard time up to 5 % early.
            QTimer::singleShot(t, Qt::PreciseTimer, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        });
}

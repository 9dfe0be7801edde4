#include "Select_form.h"

#include "link/ModbusTransact.h"
#include "link/PortMap.h"
#include "link/PosixSerialLine.h"
#include "link/ReadAllTables.h"
#include "monitor/Front_panel_form.h"
#include "monitor/Measure_form.h"
#include "setpoints/Sets_form.h"
#include "shell/Forms.h"
#include "shell/Main_form.h"
#include "shell/MessageBox.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstdio>

using zrv::ModbusTransact;

TSelect::TSelect(TMain* main) : TChildForm(main, QStringLiteral("Выбор устройства"), "Select_form", false)
{
    NameCOM = new QComboBox;
    NameCOM->setObjectName("NameCOM");
    NameCOM->setEditable(true);
    NameCOM->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= zrv::kComPortCount; ++i) NameCOM->addItem(QStringLiteral("COM%1").arg(i));
    Address = new QComboBox;
    Address->setObjectName("Address");
    Address->setEditable(true);
    Address->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= 128; ++i) Address->addItem(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
    ModemEnable = new QCheckBox(QStringLiteral("Модем 9600 бит/c"));
    ModemEnable->setObjectName("ModemEnable");
    Monitoring = new QRadioButton(QStringLiteral("&Мониторинг ZRV"));
    Monitoring->setObjectName("Monitoring");
    ExtControl = new QRadioButton(QStringLiteral("&Разрешить внешнее управление"));
    ExtControl->setObjectName("ExtControl");
    Connect = new QPushButton(QStringLiteral("Connect"));
    Connect->setObjectName("Connect");
    Disconnect = new QPushButton(QStringLiteral("Stop"));
    Disconnect->setObjectName("Disconnect");

    auto* form = new QFormLayout;
    auto* portLabel = new QLabel(QStringLiteral("&Порт:"));
    portLabel->setBuddy(NameCOM);
    auto* addressLabel = new QLabel(QStringLiteral("&Адрес:"));
    addressLabel->setBuddy(Address);
    form->addRow(portLabel, NameCOM);
    form->addRow(addressLabel, Address);
    NameCOM->setFixedWidth(100);
    Address->setFixedWidth(100);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Connect);
    buttons->addWidget(Disconnect);
    auto* box = new QVBoxLayout(content());
    box->setContentsMargins(8, 8, 8, 8);
    box->addLayout(form);
    box->addWidget(ModemEnable);
    box->addWidget(Monitoring);
    box->addWidget(ExtControl);
    box->addLayout(buttons);

    Monitoring->setChecked(true);
    Monitoring->setEnabled(false);
    ExtControl->setEnabled(false);
    Disconnect->setEnabled(false);
    NameCOM->setCurrentIndex(0);
    Address->setCurrentIndex(0);

    const zrv::ChildPlacement place = zrv::placementFor(zrv::ChildWindow::Select, main->settings);
    if (place.applyStoredChoices) {
        // An index the lists do not have selects the first entry: never an
        // empty choice, so never slave 0, which every device would obey.
        const auto pick = [](QComboBox* list, int index) { list->setCurrentIndex(index >= 0 && index < list->count() ? index : 0); };
        pick(NameCOM, main->settings.values[zrv::kSlotCom]);
        pick(Address, main->settings.values[zrv::kSlotAddress]);
        ModemEnable->setChecked(main->settings.values[zrv::kSlotModemEnable] != 0);
    }
    zrv::modbusLink().setSlaveAddress(uint8_t(slaveAddress()));
    connect(Address, &QComboBox::currentIndexChanged, this,
            [this](int) { zrv::modbusLink().setSlaveAddress(uint8_t(slaveAddress())); });
    connect(Connect, &QPushButton::clicked, this, &TSelect::ConnectClick);
    connect(Disconnect, &QPushButton::clicked, this, &TSelect::DisconnectClick);
    connect(Monitoring, &QRadioButton::toggled, this, [this](bool on) { if (on) MonitoringClick(); });
    connect(ExtControl, &QRadioButton::toggled, this, [this](bool on) { if (on) ExtControlClick(); });

    // Narrow enough to stand beside the measurement window at its default place.
    setClientSize(204, content()->sizeHint().height());
    applyPlacement(place);
}

QString TSelect::portName() const { return QStringLiteral("COM%1").arg(NameCOM->currentIndex() + 1); }

int TSelect::slaveAddress() const { return std::max(Address->currentIndex(), 0) + 1; }

void TSelect::ConnectClick()
{
    Forms& f = forms();
    // Numbers are always shown and parsed with "." here; nothing to switch.
    Connect->setEnabled(false);

    const QString name = portName();
    std::string why;
    auto line = zrv::PosixSerialLine::open(zrv::resolvePortName(name.toStdString()), &why);
    if (!line) {
        std::fprintf(stderr, "zrvterm: %s: %s\n", qPrintable(name), why.c_str());
        ShowMessage(QStringLiteral("Невозможно открыть последовательный порт"), QStringLiteral("Error"));
        Connect->setEnabled(true);
        return;
    }
    line->applyLineSettings();
    line->purge();
    line->raiseDtr();
    line->raiseRts();
    zrv::modbusLink().setPort(std::move(line));

    if (ModemEnable->isChecked() && dialModem && !dialModem()) {
        // The dialogue has hung up and closed the port.
        Connect->setEnabled(true);
        return;
    }

    // Drawn before the blocking detection.
    for (QWidget* w : std::initializer_list<QWidget*>{this, f.measure, f.sets, f.frontPanel})
        if (w) w->repaint();

    bool found = false;
    for (int attempt = 0; attempt < 4 && !found; ++attempt) found = ModbusTransact(3, 0, 1) == zrv::kTransactOk;
    if (!found) {
        ShowMessage(QStringLiteral("Устройство не обнаружено"), QStringLiteral("Ошибка"));
        Connect->setEnabled(true);
        zrv::modbusLink().closePort();
        return;
    }
    if (zrv::ReadAllTables()) {
        ShowMessage(QStringLiteral("Сбой при чтении данных"), QStringLiteral("Ошибка"));
        Connect->setEnabled(true);
        zrv::modbusLink().closePort();
        return;
    }

    Monitoring->setEnabled(true);
    ExtControl->setEnabled(true);
    if (f.frontPanel) f.frontPanel->ShowValveStates();
    if (f.sets) {
        f.sets->BuildTable();
        f.sets->Upload->setEnabled(true);
        f.sets->Download->setEnabled(false);
    }
    if (zrv::registerImage().coil(zrv::reg::kCoilExternalControl) == 1 && f.frontPanel)
        f.frontPanel->EnableButtonsForMode();
    m_main->setDeviceStatus(QStringLiteral("Обнаружен ZRV-%1").arg(zrv::registerImage().deviceNumber()));
    Connect->setEnabled(false);
    Disconnect->setEnabled(true);
    ModemEnable->setEnabled(false);
    m_main->Timer1->start();
    m_main->N8->setEnabled(true);
    m_main->N4->setEnabled(true);
}

void TSelect::DisconnectClick()
{
    Forms& f = forms();
    m_main->waitForPollingWorker();
    m_main->Timer1->stop();
    // Choosing monitoring runs its handler in full when external control was on.
    Monitoring->setChecked(true);
    setIdle();
    m_main->N8->setEnabled(false);
    m_main->N4->setEnabled(false);
    m_main->setDeviceStatus(QStringLiteral("Устройство не обнаружено"));
    if (f.frontPanel) f.frontPanel->paintIndicatorsSilver();
    if (f.measure) f.measure->resetFields();
    zrv::registerImage().setCoil(zrv::reg::kCoilExternalControl, 0);
    ModbusTransact(5, zrv::reg::kCoilExternalControl, 0);
    if (ModemEnable->isChecked() && hangUpModem) hangUpModem();
    zrv::modbusLink().closePort();
}

void TSelect::setIdle()
{
    Monitoring->setEnabled(false);
    ExtControl->setEnabled(false);
    Connect->setEnabled(true);
    Disconnect->setEnabled(false);
    ModemEnable->setEnabled(true);
}

void TSelect::controlChoice(bool external)
{
    TFront_Panel* panel = forms().frontPanel;
    const bool polling = m_main->Timer1->isActive();
    m_main->waitForPollingWorker();
    m_main->Timer1->stop();
    if (panel) {
        if (external) {
            panel->Mode->setEnabled(true);
            panel->EnableButtonsForMode();
        } else {
            panel->DisableButtons();
            panel->Mode->setEnabled(false);
        }
    }
    zrv::registerImage().setCoil(zrv::reg::kCoilExternalControl, external ? 1 : 0);
    ModbusTransact(5, zrv::reg::kCoilExternalControl, external ? 1 : 0);
    if (polling) m_main->Timer1->start();
}

void TSelect::MonitoringClick() { controlChoice(false); }
void TSelect::ExtControlClick() { controlChoice(true); }

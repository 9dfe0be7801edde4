#include "Select_form.h"

#include "link/PortMap.h"
#include "windowbase/MessageBox.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

TSelect::TSelect(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Выбор устройства"), "Select_form", false), m_session(session)
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

    const zrv::ChildPlacement place = zrv::placementFor(zrv::ChildWindow::Select, settings);
    if (place.applyStoredChoices) {
        // An index the lists do not have selects the first entry: never an
        // empty choice, so never slave 0, which every device would obey.
        const auto pick = [](QComboBox* list, int index) { list->setCurrentIndex(index >= 0 && index < list->count() ? index : 0); };
        pick(NameCOM, settings.values[zrv::kSlotCom]);
        pick(Address, settings.values[zrv::kSlotAddress]);
        ModemEnable->setChecked(settings.values[zrv::kSlotModemEnable] != 0);
    }
    const auto takeAddress = [this] {
        zrv::Session::Options o = m_session.options();
        o.address = slaveAddress();
        m_session.setOptions(o);
    };
    takeAddress();
    connect(Address, &QComboBox::currentIndexChanged, this, takeAddress);
    connect(Connect, &QPushButton::clicked, this, &TSelect::ConnectClick);
    connect(Disconnect, &QPushButton::clicked, this, &TSelect::DisconnectClick);
    connect(Monitoring, &QRadioButton::toggled, this, [this](bool on) { if (on) MonitoringClick(); });
    connect(ExtControl, &QRadioButton::toggled, this, [this](bool on) { if (on) ExtControlClick(); });
    connect(&m_session, &zrv::Session::stateChanged, this, &TSelect::SessionStateChange);

    // Narrow enough to stand beside the measurement window at its default place.
    setClientSize(204, content()->sizeHint().height());
    applyPlacement(place);
}

QString TSelect::portName() const { return QStringLiteral("COM%1").arg(NameCOM->currentIndex() + 1); }

int TSelect::slaveAddress() const { return std::max(Address->currentIndex(), 0) + 1; }

bool TSelect::choose(int com, int address, bool modem, QString* why)
{
    const auto refuse = [why](const QString& text) {
        if (why) *why = text;
        return false;
    };
    if (com < 1 || com > NameCOM->count()) return refuse(QStringLiteral("нет порта COM%1").arg(com));
    if (address < 1 || address > Address->count())
        return refuse(QStringLiteral("адрес %1 вне 1..%2, которые предлагает «Выбор устройства»").arg(address).arg(Address->count()));
    NameCOM->setCurrentIndex(com - 1);
    Address->setCurrentIndex(address - 1);
    ModemEnable->setChecked(modem);
    return true;
}

bool TSelect::modemChosen() const { return ModemEnable->isChecked(); }

void TSelect::ConnectClick()
{
    // Numbers are always shown and parsed with "." here; nothing to switch.
    zrv::ConnectReply* reply = m_session.ask(zrv::Connect{portName().toStdString(), ModemEnable->isChecked()});
    connect(reply, &zrv::ConnectReply::failed, this, [](zrv::Detection why, const QString&) {
        switch (why) {
        case zrv::Detection::PortUnavailable:
            return ShowMessage(QStringLiteral("Невозможно открыть последовательный порт"), QStringLiteral("Error"));
        case zrv::Detection::NoDevice:
            return ShowMessage(QStringLiteral("Устройство не обнаружено"), QStringLiteral("Ошибка"));
        case zrv::Detection::TablesUnread:
            return ShowMessage(QStringLiteral("Сбой при чтении данных"), QStringLiteral("Ошибка"));
        case zrv::Detection::Found:
        case zrv::Detection::Stopped:
            return;  // not a failure
        }
    });
    emit connecting(reply);
}

void TSelect::DisconnectClick()
{
    // Choosing monitoring runs its handler in full when external control was
    // on, so coil 15 is written twice then, as the device's documents say.
    Monitoring->setChecked(true);
    emit disconnecting(m_session.ask(zrv::Disconnect{}));
}

void TSelect::MonitoringClick() { m_session.ask(zrv::ExternalControl{false}); }
void TSelect::ExtControlClick() { m_session.ask(zrv::ExternalControl{true}); }

void TSelect::SessionStateChange(const zrv::SessionState& state)
{
    using C = zrv::Connection;
    const bool choosing = state.idle();
    const bool disconnected = state.connection == C::Disconnected;
    Connect->setEnabled(disconnected);
    // Stop also ends a detection that finds nobody, or a setpoint transfer,
    // without waiting for it (a journal reading has its own stop).
    Disconnect->setEnabled(choosing || (state.connected() && state.work == zrv::Work::Transfer) ||
                           state.connection == C::Detecting);
    ModemEnable->setEnabled(disconnected);
    Monitoring->setEnabled(choosing);
    ExtControl->setEnabled(choosing);
    if (disconnected || state.connection == C::HangingUp) {
        const QSignalBlocker block(Monitoring);
        Monitoring->setChecked(true);
    }
}

#pragma once
// "Выбор устройства": where a connection begins and ends. The operator picks
// a port and a slave address, may tick the modem box, and connects; while
// connected, chooses between monitoring only and external control.

#ifndef ZRV_UI_CONNECTION
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "windowbase/ChildForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include "session/Session.h"

class TSelect : public TChildForm {
    Q_OBJECT
public:
    TSelect(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session);

    QComboBox* NameCOM = nullptr;
    QComboBox* Address = nullptr;
    QCheckBox* ModemEnable = nullptr;
    QRadioButton* Monitoring = nullptr;
    QRadioButton* ExtControl = nullptr;
    QPushButton* Connect = nullptr;
    QPushButton* Disconnect = nullptr;

    // "COM" and the selected entry's position + 1.
    QString portName() const;
    // The selected entry's position + 1.
    int slaveAddress() const;
    // Picks the port (COMn), the address and whether through the modem as
    // the operator would; false, and nothing changed, when either is not
    // offered here. `why` says which, in the operator's words.
    bool choose(int com, int address, bool modem, QString* why = nullptr);
    // What is picked, as the settings keep it.
    int comIndex() const { return NameCOM->currentIndex(); }
    int addressIndex() const { return Address->currentIndex(); }
    bool modemChosen() const;

signals:
    // The connection asked for here, and its end: the wiring hands them to
    // the windows that follow them (the modem dialogue, the status bar).
    void connecting(zrv::ConnectReply* reply);
    void disconnecting(zrv::DisconnectReply* reply);

public slots:
    void ConnectClick();
    void DisconnectClick();
    void MonitoringClick();
    void ExtControlClick();

    // Which commands apply, from the connection's state.
    void SessionStateChange(const zrv::SessionState& state);

private:
    zrv::Session& m_session;
};

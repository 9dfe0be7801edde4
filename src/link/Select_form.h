#pragma once
// "Выбор устройства": where a connection begins and ends. The operator picks
// a port and a slave address, may tick the modem box, and connects; while
// connected, chooses between monitoring only and external control.

#include "shell/ChildForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <functional>

class TSelect : public TChildForm {
    Q_OBJECT
public:
    explicit TSelect(TMain* main);

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

    // The modem dialogue and its hang-up, filled by the modem window: the
    // dialogue returns false when it ended cancelled (the port is then closed).
    std::function<bool()> dialModem;
    std::function<void()> hangUpModem;

public slots:
    void ConnectClick();
    void DisconnectClick();
    void MonitoringClick();
    void ExtControlClick();

private:
    void setIdle();
    void controlChoice(bool external);
};

#pragma once
// "Удаленное подключение": dialling the device through a Hayes modem.

#include <QDialog>
#include <QLineEdit>

class TMain;

class TConnectModem : public QDialog {
    Q_OBJECT
public:
    explicit TConnectModem(TMain* main);

    QLineEdit* Number = nullptr;
};

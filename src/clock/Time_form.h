#pragma once
// "Время ZRV": the device clock, shown live and set.

#include <QDialog>
#include <QTimer>

class TMain;

class TTimeZRV : public QDialog {
    Q_OBJECT
public:
    explicit TTimeZRV(TMain* main);

    QTimer* Timer1 = nullptr;  // SecondTik every 500 ms while shown

protected:
    void done(int result) override;
};

#pragma once
// "Время ZRV": the device clock, shown live twice a second and set from the
// pickers or from the PC's clock. Shown only modally, from the main window.

#include <QDateEdit>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>

class TMain;

class TTimeZRV : public QDialog {
    Q_OBJECT
public:
    explicit TTimeZRV(TMain* main);

    QFrame* Bevel1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QDateEdit* Calendar = nullptr;
    QTimeEdit* TimePicker = nullptr;
    QPushButton* Sync = nullptr;
    QPushButton* Download = nullptr;
    QPushButton* Cancel = nullptr;
    QTimer* Timer1 = nullptr;  // SecondTik every 500 ms while shown

public slots:
    void SecondTik();
    void TimeChange();
    void ChangeDate();
    void SyncClick();
    void DownloadClick();
    void CancelClick();

protected:
    void done(int result) override;  // Close: every way of closing ends here
    void showEvent(QShowEvent* event) override;

private:
    void showTime();
    void showDate();
    bool m_settingPickers = false;
};

#pragma once
// "Время ZRV": the device clock, shown live twice a second and set from the
// pickers or from the PC's clock. Shown only modally, from the main window.

#ifndef ZRV_UI_CLOCK
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "clock/ClockLogic.h"
#include "session/Session.h"

#include <QDateEdit>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>

class TTimeZRV : public QDialog {
    Q_OBJECT
public:
    TTimeZRV(QWidget* main, zrv::Session& session);

    QFrame* Bevel1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QDateEdit* Calendar = nullptr;
    QTimeEdit* TimePicker = nullptr;
    QPushButton* Sync = nullptr;
    QPushButton* Download = nullptr;
    QPushButton* Cancel = nullptr;
    QTimer* Timer1 = nullptr;  // SecondTik every 500 ms while shown

    // Shown modally, its clock ticking from the start.
    int run()
    {
        Timer1->start();
        return exec();
    }

public slots:
    void SecondTik();
    void TimeChange();
    void ChangeDate();
    void SyncClick();
    void DownloadClick();
    void CancelClick();
    // What the window keeps between ticks and showings: the clock as last
    // read, the operator's held halves, the PC's time chosen.
    const zrv::clock::ClockState& state() const { return m_state; }

    // The session's answers: a reading of the device clock, a set's outcome.
    void ShowClock(const zrv::ClockReading& reading);
    void SetDone(bool ok);

protected:
    void done(int result) override;  // Close: every way of closing ends here
    void showEvent(QShowEvent* event) override;

private:
    void showTime();
    void showDate();
    zrv::Session& m_session;
    zrv::clock::ClockState m_state;
    bool m_settingPickers = false;
};

#include "Time_form.h"

#include "clock/ClockLogic.h"
#include "windowbase/ChildForm.h"
#include "windowbase/MessageBox.h"

#include <QDateTime>

namespace clk = zrv::clock;

TTimeZRV::TTimeZRV(QWidget* main, zrv::Session& session) : QDialog(main, Qt::Tool), m_session(session)
{
    setObjectName("Time_form");
    setWindowTitle(QStringLiteral("Время ZRV"));
    setModal(true);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(3, 4, 198, 93);
    StaticText1 = new QLabel(QStringLiteral("Текущее время ZRV:"), this);
    StaticText1->setObjectName("StaticText1");
    StaticText1->setGeometry(8, 8, 150, 17);
    Calendar = new QDateEdit(this);
    Calendar->setObjectName("Calendar");
    Calendar->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    Calendar->setCalendarPopup(true);
    Calendar->setMinimumDate(QDate(1, 1, 1));
    Calendar->setGeometry(8, 31, 100, 21);
    Calendar->setAccessibleName(QStringLiteral("Дата ZRV"));
    TimePicker = new QTimeEdit(this);
    TimePicker->setObjectName("TimePicker");
    TimePicker->setDisplayFormat(QStringLiteral("H:mm:ss"));
    TimePicker->setGeometry(116, 31, 80, 21);
    TimePicker->setAccessibleName(QStringLiteral("Время ZRV"));
    Sync = new QPushButton(QStringLiteral("Синхронизировать с PC"), this);
    Sync->setObjectName("Sync");
    Sync->setGeometry(30, 64, 149, 21);
    Download = new QPushButton(QStringLiteral("Установить"), this);
    Download->setObjectName("Download");
    Download->setGeometry(8, 116, 97, 25);
    Cancel = new QPushButton(QStringLiteral("OK"), this);
    Cancel->setObjectName("Cancel");
    Cancel->setGeometry(111, 116, 90, 25);
    Cancel->setDefault(true);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TTimeZRV::SecondTik);
    connect(TimePicker, &QTimeEdit::timeChanged, this, [this] { if (!m_settingPickers) TimeChange(); });
    connect(Calendar, &QDateEdit::dateChanged, this, [this] { if (!m_settingPickers) ChangeDate(); });
    connect(Sync, &QPushButton::clicked, this, &TTimeZRV::SyncClick);
    connect(Download, &QPushButton::clicked, this, &TTimeZRV::DownloadClick);
    connect(Cancel, &QPushButton::clicked, this, &TTimeZRV::CancelClick);

    setFixedSize(206, 161);
    placeAboveMainCentre(this, main);
}

void TTimeZRV::showTime()
{
    const clk::TimeOfDay t = m_state.ClockTime;
    m_settingPickers = true;
    TimePicker->setTime(QTime(t.hours, t.minutes, t.seconds));
    m_settingPickers = false;
}

void TTimeZRV::showDate()
{
    const clk::CivilDate d = m_state.ClockDate;
    m_settingPickers = true;
    Calendar->setDate(QDate(d.year, d.month, d.day));
    m_settingPickers = false;
}

void TTimeZRV::SecondTik()
{
    clk::ClockState& st = m_state;
    bool wantTime = false;
    if (st.TimeHoldOff != 0) {
        --st.TimeHoldOff;
    } else if (st.SyncWithPC) {
        const QTime now = QTime::currentTime();
        st.ClockTime = {now.hour(), now.minute(), now.second()};
        if (!TimePicker->hasFocus()) showTime();
    } else {
        wantTime = true;
    }

    bool wantDate = false;
    if (st.DateHoldOff != 0) {
        --st.DateHoldOff;
    } else if (st.SyncWithPC) {
        const QDate today = QDate::currentDate();
        st.ClockDate = {today.year(), today.month(), today.day()};
        if (!Calendar->hasFocus()) showDate();
    } else {
        wantDate = true;
    }
    // The device's halves come back through ShowClock; a tick whose read is
    // still on its way asks for nothing more.
    connect(m_session.ask(zrv::clock::Read{wantTime, wantDate}), &zrv::ClockReply::read, this, &TTimeZRV::ShowClock);
}

void TTimeZRV::ShowClock(const zrv::ClockReading& r)
{
    clk::ClockState& st = m_state;
    // A half the operator changed while the read was on its way stays his.
    if (r.hasTime && st.TimeHoldOff == 0 && !st.SyncWithPC) {
        st.ClockTime = r.time;
        if (!TimePicker->hasFocus()) showTime();
    }
    if (r.hasDate && st.DateHoldOff == 0 && !st.SyncWithPC) {
        st.ClockDate = r.date;
        if (!Calendar->hasFocus()) showDate();
    }
}

// A change of one picker holds that half only; the other half goes on
// following the device (or the PC), so a set always sends what one of the
// pickers or the live clock shows.
void TTimeZRV::TimeChange()
{
    clk::ClockState& st = m_state;
    Download->setEnabled(true);
    st.SyncWithPC = false;
    st.TimeHoldOff = clk::kPickerHoldOffTicks;
    const QTime t = TimePicker->time();
    st.ClockTime = {t.hour(), t.minute(), t.second()};
}

void TTimeZRV::ChangeDate()
{
    clk::ClockState& st = m_state;
    Download->setEnabled(true);
    st.SyncWithPC = false;
    st.DateHoldOff = clk::kPickerHoldOffTicks;
    const QDate d = Calendar->date();
    st.ClockDate = {d.year(), d.month(), d.day()};
}

void TTimeZRV::SyncClick()
{
    clk::ClockState& st = m_state;
    Download->setEnabled(true);
    st.SyncWithPC = true;
    st.TimeHoldOff = 0;
    st.DateHoldOff = 0;
}

void TTimeZRV::DownloadClick()
{
    clk::ClockState& st = m_state;
    connect(m_session.ask(zrv::clock::Set{st.ClockTime, st.ClockDate}), &zrv::CommandReply::done, this, &TTimeZRV::SetDone);
    Download->setEnabled(false);
    st.TimeHoldOff = 0;
    st.DateHoldOff = 0;
    Cancel->setFocus();
}

void TTimeZRV::SetDone(bool ok)
{
    if (!ok)
        ShowMessage(QStringLiteral("Сбой при записи данных"), QStringLiteral("Ошибка"));
    else
        m_state.SyncWithPC = false;
}

void TTimeZRV::CancelClick()
{
    Timer1->stop();
    accept();
}

void TTimeZRV::done(int result)
{
    Timer1->stop();
    m_session.holdPolling(false);
    QDialog::done(result);
}

void TTimeZRV::showEvent(QShowEvent* event)
{
    // The window reads the device twice a second: polling waits meanwhile.
    m_session.holdPolling(true);
    QDialog::showEvent(event);
    Cancel->setFocus();
}

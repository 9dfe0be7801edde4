#include "Time_form.h"

#include "clock/ClockLogic.h"
#include "link/ModbusTransact.h"
#include "shell/About.h"
#include "shell/Main_form.h"
#include "shell/MessageBox.h"

#include <QDateTime>

using zrv::ModbusTransact;
namespace clk = zrv::clock;

TTimeZRV::TTimeZRV(TMain* main) : QDialog(main, Qt::Tool)
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
    const clk::TimeOfDay t = clk::clockState().ClockTime;
    m_settingPickers = true;
    TimePicker->setTime(QTime(t.hours, t.minutes, t.seconds));
    m_settingPickers = false;
}

void TTimeZRV::showDate()
{
    const clk::CivilDate d = clk::clockState().ClockDate;
    m_settingPickers = true;
    Calendar->setDate(QDate(d.year, d.month, d.day));
    m_settingPickers = false;
}

void TTimeZRV::SecondTik()
{
    clk::ClockState& st = clk::clockState();
    const zrv::RegisterImage& img = zrv::registerImage();
    if (st.TimeHoldOff != 0) {
        --st.TimeHoldOff;
    } else {
        if (st.SyncWithPC) {
            const QTime now = QTime::currentTime();
            st.ClockTime = {now.hour(), now.minute(), now.second()};
        } else {
            ModbusTransact(4, zrv::reg::kInClockSec, zrv::reg::kInClockCount);
            st.ClockTime = clk::timeFromRegisters(img.input(20), img.input(21), img.input(22));
        }
        if (!TimePicker->hasFocus()) showTime();
    }

    if (st.DateHoldOff != 0) {
        --st.DateHoldOff;
        return;
    }
    if (st.SyncWithPC) {
        const QDate today = QDate::currentDate();
        st.ClockDate = {today.year(), today.month(), today.day()};
    } else {
        ModbusTransact(4, zrv::reg::kInClockSec, zrv::reg::kInClockCount);
        st.ClockDate = clk::dateFromRegisters(img.input(23), img.input(24), img.input(25));
    }
    if (!Calendar->hasFocus()) showDate();
}

// A change of one picker holds that half only; the other half goes on
// following the device (or the PC), so a set always sends what one of the
// pickers or the live clock shows.
void TTimeZRV::TimeChange()
{
    clk::ClockState& st = clk::clockState();
    Download->setEnabled(true);
    st.SyncWithPC = false;
    st.TimeHoldOff = clk::kPickerHoldOffTicks;
    const QTime t = TimePicker->time();
    st.ClockTime = {t.hour(), t.minute(), t.second()};
}

void TTimeZRV::ChangeDate()
{
    clk::ClockState& st = clk::clockState();
    Download->setEnabled(true);
    st.SyncWithPC = false;
    st.DateHoldOff = clk::kPickerHoldOffTicks;
    const QDate d = Calendar->date();
    st.ClockDate = {d.year(), d.month(), d.day()};
}

void TTimeZRV::SyncClick()
{
    clk::ClockState& st = clk::clockState();
    Download->setEnabled(true);
    st.SyncWithPC = true;
    st.TimeHoldOff = 0;
    st.DateHoldOff = 0;
}

void TTimeZRV::DownloadClick()
{
    clk::ClockState& st = clk::clockState();
    zrv::RegisterImage& img = zrv::registerImage();
    const auto regs = clk::clockSetRegisters(st.ClockTime, st.ClockDate);
    for (uint16_t i = 0; i < regs.size(); ++i) img.setHolding(uint16_t(zrv::reg::kSetSec + i), regs[i]);
    if (ModbusTransact(16, zrv::reg::kSetSec, zrv::reg::kClockSetCount) != zrv::kTransactOk)
        ShowMessage(QStringLiteral("Сбой при записи данных"), QStringLiteral("Ошибка"));
    else
        st.SyncWithPC = false;
    Download->setEnabled(false);
    st.TimeHoldOff = 0;
    st.DateHoldOff = 0;
    Cancel->setFocus();
}

void TTimeZRV::CancelClick()
{
    Timer1->stop();
    accept();
}

void TTimeZRV::done(int result)
{
    Timer1->stop();
    QDialog::done(result);
}

void TTimeZRV::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Cancel->setFocus();
}

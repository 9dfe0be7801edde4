// The clock window against the simulated device.

#include "SimServer.h"
#include "clock/ClockLogic.h"
#include "clock/ui/Time_form.h"
#include "connection/ui/Select_form.h"
#include "link/ModbusTransact.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestClock : public SimulatedTerminal {
    Q_OBJECT

private:
    TTimeZRV* clockWindow() { return t().timeZRV; }
    // The device clock set through its own MODBUS slave.
    void setDeviceClock(int y, int mo, int d, int h, int mi, int s)
    {
        m_sim->withDevice([&](zrvsim::DeviceModel& dev, auto&) {
            dev.writeHoldings(10, {uint16_t(s), uint16_t(mi), uint16_t(h), uint16_t(d), uint16_t(mo), uint16_t(y - 2000)},
                              zrvsim::Clock::now());
            return 0;
        });
    }
    std::vector<zrvsim::Frame> frames()
    {
        std::vector<zrvsim::Frame> out;
        for (const auto& r : m_sim->requests()) out.push_back(r.frame);
        return out;
    }

    void tick()
    {
        clockWindow()->SecondTik();
        settle();
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        connectDevice();
        QVERIFY(m_messages.isEmpty());
        m_sim->clearRequests();
        clockWindow()->show();  // not modal here, so the test can drive it
    }
    void cleanup() { shutDown(); }

    void layoutAndCaptions()
    {
        TTimeZRV* w = clockWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Время ZRV"));
        QCOMPARE(w->StaticText1->text(), QStringLiteral("Текущее время ZRV:"));
        QCOMPARE(w->Sync->text(), QStringLiteral("Синхронизировать с PC"));
        QCOMPARE(w->Download->text(), QStringLiteral("Установить"));
        QCOMPARE(w->Calendar->displayFormat(), QStringLiteral("dd.MM.yyyy"));
        QVERIFY(w->Calendar->calendarPopup());
        QCOMPARE(w->size(), QSize(206, 161));
        QCOMPARE(w->Timer1->interval(), 500);
        QVERIFY(w->Download->isEnabled());
    }

    void followsTheDeviceClockWithTwoReadsATick()
    {
        setDeviceClock(2009, 2, 15, 14, 30, 45);
        tick();
        QCOMPARE(clockWindow()->Calendar->date(), QDate(2009, 2, 15));
        QCOMPARE(clockWindow()->TimePicker->time().hour(), 14);
        QCOMPARE(clockWindow()->TimePicker->time().minute(), 30);
        const auto f = frames();
        QCOMPARE(f.size(), std::size_t(2));
        for (const auto& r : f) QCOMPARE(zrvsim::Frame(r.begin(), r.begin() + 6), (zrvsim::Frame{1, 4, 0, 20, 0, 6}));
    }

    void syncThenSetPutsThePcTimeIntoTheDevice()
    {
        setDeviceClock(2009, 2, 15, 14, 30, 45);
        clockWindow()->SyncClick();
        tick();
        QCOMPARE(clockWindow()->Calendar->date(), QDate::currentDate());
        QVERIFY(frames().empty());  // the PC's clock needs no reads
        clockWindow()->DownloadClick();
        settle();
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!clockWindow()->state().SyncWithPC);
        QVERIFY(!clockWindow()->Download->isEnabled());
        const auto f = frames();
        QCOMPARE(f.size(), std::size_t(1));
        QCOMPARE(zrvsim::Frame(f[0].begin(), f[0].begin() + 7), (zrvsim::Frame{1, 16, 0, 10, 0, 6, 12}));
        const int deviceYear = m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) {
            d.advance(zrvsim::Clock::now());
            return 2000 + d.inputs[25];
        });
        QCOMPARE(deviceYear, QDate::currentDate().year());
        m_sim->clearRequests();
        tick();  // back to reading the device
        QCOMPARE(frames().size(), std::size_t(2));
    }

    void pickedTimeGoesOutWithTheShownDate()
    {
        setDeviceClock(2009, 2, 15, 14, 30, 45);
        tick();
        clockWindow()->TimePicker->setTime(QTime(10, 11, 12));  // the operator's change
        QVERIFY(clockWindow()->Download->isEnabled());
        QCOMPARE(int(clockWindow()->state().TimeHoldOff), 10);
        tick();  // within five seconds: the time half is held
        QCOMPARE(clockWindow()->TimePicker->time(), QTime(10, 11, 12));
        m_sim->clearRequests();
        clockWindow()->DownloadClick();
        settle();
        const auto f = frames();
        QCOMPARE(f.size(), std::size_t(1));
        QCOMPARE(zrvsim::Frame(f[0].begin(), f[0].begin() + 19),
                 (zrvsim::Frame{1, 16, 0, 10, 0, 6, 12, 0, 12, 0, 11, 0, 10, 0, 15, 0, 2, 0, 9}));
        const uint16_t sent[] = {12, 11, 10, 15, 2, 9};
        for (uint16_t a = 10; a < 16; ++a) QCOMPARE(image().holding(a), sent[a - 10]);
    }

    void syncFollowsThePcTimeWithoutReadingTheDevice()
    {
        setDeviceClock(2009, 2, 15, 3, 4, 5);
        clockWindow()->SyncClick();
        const QTime before = QTime::currentTime();
        tick();
        const QTime after = QTime::currentTime();
        const QTime shown = clockWindow()->TimePicker->time();
        // The PC's time of the tick, to the second.
        QVERIFY2(shown >= QTime(before.hour(), before.minute(), before.second()) && shown <= after,
                 qPrintable(shown.toString()));
        QVERIFY(frames().empty());
    }

    void aPickedTimeHoldsForTenTicksThenTheDeviceShowsAgain()
    {
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdClock = true;
            const uint16_t clock[] = {45, 30, 14, 15, 2, 9};  // 15.02.2009 14:30:45
            for (std::size_t i = 0; i < 6; ++i) d.inputs[20 + i] = clock[i];
        });
        tick();
        QCOMPARE(clockWindow()->TimePicker->time(), QTime(14, 30, 45));
        clockWindow()->TimePicker->setTime(QTime(10, 11, 12));
        m_sim->clearRequests();
        for (int i = 0; i < 10; ++i) tick();
        // Ten ticks: only the date half was read, the time stayed the operator's.
        QCOMPARE(frames().size(), std::size_t(10));
        QCOMPARE(clockWindow()->TimePicker->time(), QTime(10, 11, 12));
        QCOMPARE(int(clockWindow()->state().TimeHoldOff), 0);
        tick();
        QCOMPARE(frames().size(), std::size_t(12));
        QCOMPARE(clockWindow()->TimePicker->time(), QTime(14, 30, 45));
    }

    void yearsOutsideTheCenturyGoOutModulo65536()
    {
        // The picker takes any year; the register holds year - 2000 as a
        // 16-bit number, as the device documents it.
        clockWindow()->Calendar->setDate(QDate(1999, 12, 31));
        clockWindow()->DownloadClick();
        settle();
        auto f = frames();
        QCOMPARE(f.size(), std::size_t(1));
        QCOMPARE(zrvsim::Frame(f[0].begin() + 17, f[0].begin() + 19), (zrvsim::Frame{0xFF, 0xFF}));
        m_sim->clearRequests();
        clockWindow()->Calendar->setDate(QDate(2100, 1, 1));
        clockWindow()->DownloadClick();
        settle();
        f = frames();
        QCOMPARE(f.size(), std::size_t(1));
        QCOMPARE(zrvsim::Frame(f[0].begin() + 17, f[0].begin() + 19), (zrvsim::Frame{0, 100}));
    }

    void failedSetKeepsSyncAndSaysSo()
    {
        clockWindow()->SyncClick();
        m_sim->withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.silent = true; });
        clockWindow()->DownloadClick();
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при записи данных"});
        QVERIFY(clockWindow()->state().SyncWithPC);
        QVERIFY(!clockWindow()->Download->isEnabled());
    }

    void invalidDeviceValuesShowTheFallbacks()
    {
        // Registers beyond any calendar.
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdClock = true;
            for (std::size_t a = 20; a < 26; ++a) d.inputs[a] = 0xFFFF;
        });
        tick();
        QCOMPARE(clockWindow()->TimePicker->time(), QTime(0, 0, 0));
        QCOMPARE(clockWindow()->Calendar->date(), QDate(2000, 1, 1));
    }

    void menuOpensItModallyInAPollingPauseAndRestartsPolling()
    {
        clockWindow()->CancelClick();
        TMain* m = t().main;
        QVERIFY(m->Timer1->isActive());  // the window let go of the line
        bool timerRanInside = false;
        QTimer::singleShot(50, clockWindow(), [&] {
            timerRanInside = clockWindow()->Timer1->isActive() && !m->Timer1->isActive() && clockWindow()->isModal();
            clockWindow()->CancelClick();
        });
        m->N8Click();
        QVERIFY(timerRanInside);
        QVERIFY(!clockWindow()->Timer1->isActive());
        QVERIFY(m->Timer1->isActive());
    }
};

QTEST_MAIN(TestClock)
#include "tst_clock.moc"

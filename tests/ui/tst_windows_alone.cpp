// Each window built alone against a session on the in-memory line: no other
// window exists, so whatever a window shows it has from the session. The
// line runs on simulated time, so a silent device's time-outs and retries
// cost nothing here.

#include "clock/ui/Time_form.h"
#include "connection/ui/Select_form.h"
#include "journal/ui/Log_form.h"
#include "journal/ui/Logprocessform.h"
#include "modem/ui/Modem.h"
#include "monitor/ui/Front_panel_form.h"
#include "monitor/ui/Measure_form.h"
#include "session/Session.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "support/MemoryDevice.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>

using zrvtest::Bytes;
using zrvtest::withCrc;

namespace {

Bytes request(std::initializer_list<uint8_t> pdu)
{
    Bytes b{1};
    b.insert(b.end(), pdu);
    return withCrc(b);
}

// Function, start and count (or value) of every frame written.
std::vector<std::array<int, 3>> summary(const std::vector<Bytes>& frames)
{
    std::vector<std::array<int, 3>> out;
    for (const Bytes& f : frames)
        if (f.size() >= 6) out.push_back({f[1], (f[2] << 8) | f[3], (f[4] << 8) | f[5]});
    return out;
}


}  // namespace

class TestWindowsAlone : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_messages;
    std::unique_ptr<zrvtest::MemoryDevice> m_device;
    std::unique_ptr<zrv::Session> m_session;
    std::unique_ptr<QMdiArea> m_area;
    zrv::Settings m_settings;

    zrv::Session& session() { return *m_session; }
    void settle() { ::settle(*m_session); }
    // Connected through the session alone, as if some other window had asked.
    void connect(bool external = false)
    {
        session().ask(zrv::Connect{"COM1", false});
        settle();
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
        if (external) {
            session().ask(zrv::ExternalControl{true});
            settle();
        }
        m_device->clearWritten();
    }
    void poll()
    {
        session().ask(zrv::Poll{});
        settle();
    }
    void silence()
    {
        m_device->with([](auto&, zrvsim::ModbusSlave& s, auto&) { return s.faults.silent = true; });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        setMessageBoxHandler([this](const QString& text, const QString& title) { m_messages << title + ": " + text; });
    }
    void init()
    {
        m_messages.clear();
        m_device = std::make_unique<zrvtest::MemoryDevice>();
        m_device->with([](zrvsim::DeviceModel& d, auto&, auto&) {
            d.holdMeasurements = true;
            d.valveDelay = std::chrono::milliseconds(0);
            return 0;
        });
        m_session = std::make_unique<zrv::Session>();
        m_session->setLineOpener(m_device->opener());
        // Polling is driven step by step: the timer runs as the session says,
        // its ticks ask for nothing.
        zrv::SessionProbe::setPollsItself(*m_session, false);
        m_area = std::make_unique<QMdiArea>();
    }
    void cleanup()
    {
        m_session->shutdown();
        m_area.reset();
        m_session.reset();
        m_device.reset();
    }

    void selectionFindsTheDeviceAndEndsTheConnection()
    {
        TSelect w(m_area.get(), m_settings, session());
        QTest::mouseClick(w.Connect, Qt::LeftButton);
        QVERIFY(!w.Connect->isEnabled());  // at once, before the line has answered
        settle();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(summary(m_device->written()),
                 (std::vector<std::array<int, 3>>{{3, 0, 1}, {1, 0, 16}, {2, 0, 24}, {3, 0, 114}, {4, 0, 28}}));
        QCOMPARE(m_device->written().front(), request({3, 0, 0, 0, 1}));
        QVERIFY(w.Disconnect->isEnabled() && w.Monitoring->isEnabled() && w.ExtControl->isEnabled());
        QVERIFY(!w.ModemEnable->isEnabled());

        m_device->clearWritten();
        w.ExtControl->click();
        settle();
        QCOMPARE(m_device->written(), std::vector<Bytes>{request({5, 0, 15, 0xFF, 0})});
        QCOMPARE(stateName(session().state()), QStringLiteral("ExternalControl"));

        m_device->clearWritten();
        QTest::mouseClick(w.Disconnect, Qt::LeftButton);
        settle();
        // Monitoring first (its own write), then the disconnection's.
        QCOMPARE(m_device->written(), (std::vector<Bytes>{request({5, 0, 15, 0, 0}), request({5, 0, 15, 0, 0})}));
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QVERIFY(w.Connect->isEnabled() && w.Monitoring->isChecked() && !w.Monitoring->isEnabled());
    }

    void selectionReportsEachWayAConnectionFails()
    {
        TSelect w(m_area.get(), m_settings, session());
        w.NameCOM->setCurrentIndex(4);  // COM5: no such port here
        QTest::mouseClick(w.Connect, Qt::LeftButton);
        settle();
        QCOMPARE(m_messages, QStringList{"Error: Невозможно открыть последовательный порт"});
        QVERIFY(w.Connect->isEnabled());

        m_messages.clear();
        w.NameCOM->setCurrentIndex(0);
        silence();
        QTest::mouseClick(w.Connect, Qt::LeftButton);
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Устройство не обнаружено"});
        QCOMPARE(m_device->written().size(), std::size_t(4));
        QVERIFY(!zrv::SessionProbe::portOpen(session()) && w.Connect->isEnabled());

        // Found, but the tables cannot be read: the whole first reading fails.
        m_messages.clear();
        m_device->clearWritten();
        zrvtest::MemoryDevice* device = m_device.get();
        int frames = 0;
        m_device->setScript([device, &frames](const Bytes& f) {
            return frames++ == 0 ? device->answer(f) : std::vector<zrvtest::Chunk>{};
        });
        m_device->with([](auto&, zrvsim::ModbusSlave& s, auto&) { return s.faults.silent = false; });
        QTest::mouseClick(w.Connect, Qt::LeftButton);
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при чтении данных"});
        QCOMPARE(m_device->written().size(), std::size_t(1 + 16));  // detection, then coils 16 down to 1
        QVERIFY(!zrv::SessionProbe::portOpen(session()) && w.Connect->isEnabled() && !w.Disconnect->isEnabled());
    }

    void measurementsFollowThePollingAndResetOnDisconnection()
    {
        TMeasure w(m_area.get(), m_settings, session());
        m_device->with([](zrvsim::DeviceModel& d, auto&, auto&) {
            d.setInputFloat(0, 1.23456f);
            d.setInputFloat(10, 3.6f);
            return 0;
        });
        connect();
        QCOMPARE(w.P1->text(), QStringLiteral("0"));  // nothing shown before a polling step
        poll();
        QCOMPARE(w.P1->text(), QStringLiteral("1.23"));
        QCOMPARE(w.Vbat->text(), QStringLiteral("3.6"));
        silence();
        poll();  // a silent step keeps the values
        QCOMPARE(w.P1->text(), QStringLiteral("1.23"));
        session().ask(zrv::Disconnect{});
        settle();
        QCOMPARE(w.P1->text(), QStringLiteral("0"));
    }

    void panelSendsTheExactFramesOfItsCommands()
    {
        TFront_Panel w(m_area.get(), m_settings, session());
        m_device->with([](zrvsim::DeviceModel& d, auto&, auto&) {
            d.holdings[0] = 0;  // manual
            d.setValveWord(0);
            return 0;
        });
        connect(true);
        poll();  // reads the mode back: manual allows the valves
        QCOMPARE(w.Mode->currentIndex(), 0);
        QVERIFY(w.V[2]->isEnabled() && !w.StepDown->isEnabled());
        m_device->clearWritten();
        QTest::mouseClick(w.V[2], Qt::LeftButton);
        QVERIFY(!w.V[2]->isEnabled());
        settle();
        QCOMPARE(m_device->written(), std::vector<Bytes>{request({5, 0, 2, 0xFF, 0})});
        poll();
        QVERIFY(w.V[2]->isEnabled());
        QCOMPARE(w.I[2]->brushColor(), QColor(0, 255, 0));
        m_device->clearWritten();
        QTest::mouseClick(w.V[2], Qt::LeftButton);  // and closed again
        settle();
        QCOMPARE(m_device->written(), std::vector<Bytes>{request({5, 0, 2, 0, 0})});

        // Step mode: "-1" is direction down (coil 8 = 0), then the strobe.
        m_device->with([](zrvsim::DeviceModel& d, auto&, auto&) { return d.holdings[0] = 1; });
        for (int i = 0; i < 6; ++i) poll();
        QCOMPARE(w.Mode->currentIndex(), 1);
        QVERIFY(w.StepDown->isEnabled());
        const uint8_t strobe = session().image().coil(9);
        m_device->clearWritten();
        QTest::mouseClick(w.StepDown, Qt::LeftButton);
        settle();
        QCOMPARE(m_device->written(),
                 (std::vector<Bytes>{request({5, 0, 8, 0, 0}), request({5, 0, 9, uint8_t(strobe ? 0 : 0xFF), 0})}));

        // A mode the device does not take is said so.
        silence();
        w.Mode->setCurrentIndex(3);
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при установке режима"});
    }

    void setpointTransfersAgainstASilentDeviceFailAfterEveryRetry()
    {
        TSets w(m_area.get(), m_settings, session());
        connect();
        QVERIFY(w.Upload->isEnabled() && !w.Download->isEnabled());
        silence();
        QTest::mouseClick(w.Upload, Qt::LeftButton);
        QVERIFY(!w.Upload->isEnabled());  // busy until the answer
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при чтении данных"});
        const auto reads = summary(m_device->written());
        QCOMPARE(reads.size(), std::size_t(104));
        QCOMPARE(reads.front(), (std::array<int, 3>{3, 0, 114}));
        QCOMPARE(reads.back(), (std::array<int, 3>{3, 0, 11}));
        QVERIFY(!zrv::SessionProbe::polling(session()));  // a failed read leaves polling stopped

        m_messages.clear();
        m_device->clearWritten();
        w.TabBar->setCurrentIndex(4);
        QLineEdit* period = w.valueEditor(1);
        period->selectAll();
        QTest::keyClicks(period, "30");
        QVERIFY(w.Download->isEnabled());
        QTest::mouseClick(w.Download, Qt::LeftButton);
        // The window's own request, followed from before its first attempt.
        const auto writes = session().findChildren<zrv::SetpointsReply*>();
        QCOMPARE(writes.size(), 1);
        QSignalSpy attempts(writes.front(), &zrv::SetpointsReply::attempt);
        // Where the operator looks: the attempts, and a way out.
        QVERIFY(!w.TransferStop->isHidden() && !w.TransferState->isHidden());
        QSignalSpy stops(&w, &TSets::stopRequested);
        QTest::mouseClick(w.TransferStop, Qt::LeftButton);
        QCOMPARE(stops.size(), 1);  // the wiring ends the connection; alone, nothing does
        while (!zrv::SessionProbe::idle(session())) {
            QCoreApplication::processEvents();
            if (attempts.size() == 3) QCOMPARE(w.TransferState->text(), QStringLiteral("Запись в ZRV: попытка 3 из 104"));
        }
        settle();
        QCOMPARE(attempts.size(), 104);
        QCOMPARE(attempts.back(), (QList<QVariant>{104, 104}));
        QVERIFY(w.TransferStop->isHidden() && w.TransferState->isHidden());
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при записи данных"});
        const auto sent = summary(m_device->written());
        QCOMPARE(sent.size(), std::size_t(104));
        QCOMPARE(sent.front(), (std::array<int, 3>{16, 0, 114}));
        QCOMPARE(sent.back(), (std::array<int, 3>{16, 0, 11}));
        QVERIFY(zrv::SessionProbe::polling(session()));
        // The typed value stays, and one press tries again.
        QCOMPARE(w.valueEditor(1)->text(), QStringLiteral("30"));
        QVERIFY(w.Download->isEnabled());
    }

    void clockReadsTwiceATickAndSetsInOneBlock()
    {
        QWidget owner;
        TTimeZRV w(&owner, session());
        connect();
        // The session paces the polling, and holds it while the clock window
        // has the line.
        QVERIFY(session().pollingTimer()->isActive());
        w.show();
        QVERIFY(!session().pollingTimer()->isActive() && zrv::SessionProbe::polling(session()));
        w.SecondTik();
        settle();
        QCOMPARE(summary(m_device->written()), (std::vector<std::array<int, 3>>{{4, 20, 6}, {4, 20, 6}}));
        const QTime shown = w.TimePicker->time();
        QVERIFY(shown.isValid());
        m_device->clearWritten();
        w.TimePicker->setTime(QTime(10, 11, 12));
        w.Calendar->setDate(QDate(2031, 5, 6));
        w.DownloadClick();
        settle();
        QCOMPARE(m_device->written(), std::vector<Bytes>{request({16, 0, 10, 0, 6, 12, 0, 12, 0, 11, 0, 10, 0, 6, 0, 5, 0, 31})});
        silence();
        w.DownloadClick();
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при записи данных"});
        w.CancelClick();
        QVERIFY(session().pollingTimer()->isActive());
    }

    void viewerAndProgressFollowAJournalReading()
    {
        TLogView view(m_area.get(), m_settings);
        QWidget owner;
        TLogProgress progress(&owner, session());
        m_device->with([](zrvsim::DeviceModel& d, auto&, auto&) { return d.prepareJournalCase("wrap"); });
        // A reading the session does not make (nothing is connected) leaves
        // both as they are.
        view.Log->setPlainText(QStringLiteral("an earlier report"));
        zrv::JournalReply* refused = session().ask(zrv::journal::Read{});
        QVERIFY(refused->refused());
        view.follow(refused);
        progress.follow(refused);
        settle();
        QVERIFY(!progress.isVisible());
        QCOMPARE(view.lines(), QStringList{QStringLiteral("an earlier report")});
        connect();
        zrv::JournalReply* reading = session().ask(zrv::journal::Read{});
        QVERIFY(!reading->refused());
        view.follow(reading);
        progress.follow(reading);
        QVERIFY(progress.isVisible());
        QVERIFY(!view.isMinimized());
        settle();
        QVERIFY(!progress.isVisible());
        QVERIFY2(view.StatusBar1->text().startsWith(QStringLiteral("Загружена 1 запись")), qPrintable(view.StatusBar1->text()));
        QVERIFY(view.lines().size() > 55);
        QCOMPARE(view.lines().at(1), QStringLiteral("MODBUS Address: 1"));
        QVERIFY(progress.ProgressBar1->value() > 0);  // words read
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
        QVERIFY(zrv::SessionProbe::polling(session()));
    }

    void modemDialsThenTheDeviceIsFound()
    {
        QWidget owner;
        TConnectModem w(&owner, m_settings, session());
        zrvtest::MemoryDevice* device = m_device.get();
        m_device->setScript([device](const Bytes& f) {
            const std::string text(f.begin(), f.end());
            if (text.rfind("ATDP", 0) == 0) return std::vector<zrvtest::Chunk>{{std::chrono::milliseconds(0), Bytes{'C', 'O', 'N', 'N', 'E', 'C', 'T', '\r', '\n'}}};
            if (text.rfind("ath0", 0) == 0) return std::vector<zrvtest::Chunk>{};
            return device->answer(f);
        });
        w.Number->setText(QStringLiteral("5550"));
        QTimer::singleShot(50, &w, [&w] { w.Button2->click(); });
        w.follow(session().ask(zrv::Connect{"COM1", true}));
        settle();
        QCOMPARE(w.State->text(), QStringLiteral("Соединение успешно"));
        QVERIFY(!w.isVisible());
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
        const auto written = m_device->written();
        QCOMPARE(std::string(written.front().begin(), written.front().end()), std::string("ATDP5550\r"));
        QCOMPARE(written.at(1), request({3, 0, 0, 0, 1}));
    }

    void mainWindowFollowsTheSessionAlone()
    {
        TMain w(session());
        QVERIFY(!w.N8->isEnabled() && !w.N4->isEnabled() && !w.Timer1->isActive());
        connect();
        QVERIFY(w.N8->isEnabled() && w.N4->isEnabled());
        QVERIFY(w.Timer1->isActive());
        QCOMPARE(w.StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-%1").arg(session().image().deviceNumber()));
        QCOMPARE(w.StatusPanel1->text(), QStringLiteral("Успешных транзакций 5 /Сбоев 0"));
        session().ask(zrv::Disconnect{});
        settle();
        QVERIFY(!w.Timer1->isActive());
        QCOMPARE(w.StatusPanel0->text(), QStringLiteral("Устройство не обнаружено"));
        QVERIFY(!w.N8->isEnabled());
    }
};

QTEST_MAIN(TestWindowsAlone)
#include "tst_windows_alone.moc"

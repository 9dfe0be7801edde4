// Finding, watching and commanding the simulated device through the windows:
// the selection window, the polling step, the measurements and the control
// panel, end to end over a pseudo-terminal.

#include "SimServer.h"
#include "connection/ui/Select_form.h"
#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"
#include "monitor/ui/Front_panel_form.h"
#include "monitor/ui/Measure_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <filesystem>

namespace {

struct Request {
    int function, start, value;
    bool operator==(const Request&) const = default;
};

char* toString(const std::vector<Request>& v);


}  // namespace

class TestConnection : public SimulatedTerminal {
    Q_OBJECT

private:
    TMain* main() { return t().main; }
    TSelect* select() { return t().select; }
    TFront_Panel* panel() { return t().frontPanel; }

    std::vector<Request> requests()
    {
        std::vector<Request> out;
        for (const auto& r : m_sim->requests())
            out.push_back({r.frame[1], (r.frame[2] << 8) | r.frame[3], (r.frame[4] << 8) | r.frame[5]});
        return out;
    }
    int failures() { return session().counters().failures.load(); }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdMeasurements = true;
            d.valveDelay = std::chrono::milliseconds(0);
        });
        createTerminal();
    }
    void cleanup() { shutDown(); }

    void connectFindsTheDeviceAndPollingShowsMeasurements()
    {
        device([](zrvsim::DeviceModel& d, auto&) {
            d.setInputFloat(0, 1.23456f);
            d.setInputFloat(2, 123.456f);
            d.setInputFloat(4, -5.27f);
            d.setInputFloat(6, 12345.0f);
            d.setInputFloat(8, 0.912345f);
            d.setInputFloat(10, 3.6f);
            d.setValveWeights({32, 32, 32, 32, 16, 8, 4, 2});
        });
        connectDevice();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-158"));
        QCOMPARE(requests(), (std::vector<Request>{{3, 0, 1}, {1, 0, 16}, {2, 0, 24}, {3, 0, 114}, {4, 0, 28}}));
        QVERIFY(!select()->Connect->isEnabled());
        QVERIFY(select()->Disconnect->isEnabled());
        QVERIFY(!select()->ModemEnable->isEnabled());
        QVERIFY(select()->Monitoring->isEnabled() && select()->ExtControl->isEnabled());
        QVERIFY(select()->Monitoring->isChecked());
        QVERIFY(main()->N8->isEnabled() && main()->N4->isEnabled());

        m_sim->clearRequests();
        pollStep();
        QCOMPARE(requests(),
                 (std::vector<Request>{{1, 0, 16}, {4, 0, 28}, {2, 0, 24}, {3, 96, 8}, {3, 0, 1}}));
        TMeasure* m = t().measure;
        QCOMPARE(m->P1->text(), QStringLiteral("1.23"));
        QCOMPARE(m->P2->text(), QStringLiteral("123.50"));
        QCOMPARE(m->Tg->text(), QStringLiteral("-5.3"));
        QCOMPARE(m->Qi->text(), QStringLiteral("12.3"));
        QCOMPARE(m->Mq->text(), QStringLiteral("0.9123"));
        QCOMPARE(m->Vbat->text(), QStringLiteral("3.6"));
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-158"));
        QCOMPARE(main()->StatusPanel1->text(), QStringLiteral("Успешных транзакций 10 /Сбоев 0"));
        QCOMPARE(panel()->Mode->currentIndex(), 2);
        QCOMPARE(panel()->Sourse->text(), QStringLiteral("Сеть"));
        // Valves 1-4 open by the device's start-up word: green; 5-8 closed: red.
        QCOMPARE(panel()->I[0]->brushColor(), QColor(0, 255, 0));
        QCOMPARE(panel()->I[7]->brushColor(), QColor(255, 0, 0));
        QCOMPARE(panel()->Percent->text(), QStringLiteral("81.01%"));
    }

    void deviceAnsweringTheThirdDetectionAttemptIsConnected()
    {
        device([](auto&, zrvsim::ModbusSlave& s) { s.faults.answerFromRequest = 3; });
        connectDevice();
        QVERIFY(m_messages.isEmpty());
        const auto r = requests();
        QVERIFY(r.size() >= 4);
        QCOMPARE(r[0], (Request{3, 0, 1}));
        QCOMPARE(r[2], (Request{3, 0, 1}));
        QCOMPARE(r[3], (Request{1, 0, 16}));
        QVERIFY(select()->Disconnect->isEnabled());
    }

    void noDeviceIsReportedAndThePortClosed()
    {
        device([](auto&, zrvsim::ModbusSlave& s) { s.faults.silent = true; });
        connectDevice();
        QCOMPARE(m_messages, QStringList{"Ошибка: Устройство не обнаружено"});
        QCOMPARE(requests().size(), std::size_t(4));
        QVERIFY(select()->Connect->isEnabled());
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QVERIFY(!main()->Timer1->isActive());
    }

    void portThatCannotBeOpenedSaysError()
    {
        std::filesystem::create_symlink(m_dir.path().toStdString() + "/nowhere",
                                        m_dir.path().toStdString() + "/cfg/zrvterm/ports/COM5");
        select()->NameCOM->setCurrentIndex(4);
        connectDevice();
        QCOMPARE(m_messages, QStringList{"Error: Невозможно открыть последовательный порт"});
        QVERIFY(select()->Connect->isEnabled());
        QVERIFY(requests().empty());
    }

    void portHeldByAnotherProgramSaysErrorAndConnectsOnceFreed()
    {
        std::string why;
        auto other = zrv::PosixSerialLine::open(m_sim->devicePath(), &why);  // another program's hold
        QVERIFY2(other, why.c_str());
        connectDevice();
        QCOMPARE(m_messages, QStringList{"Error: Невозможно открыть последовательный порт"});
        QVERIFY(select()->Connect->isEnabled());
        QVERIFY(requests().empty());
        other->close();
        m_messages.clear();
        connectDevice();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
    }

    void deviceThatRefusesSixteenCoilsIsReadAsFarAsItAllows()
    {
        device([](zrvsim::DeviceModel& d, zrvsim::ModbusSlave& s) {
            s.faults.maxCoilRead = 8;
            for (int c = 10; c < 15; ++c) d.coils[std::size_t(c)] = 1;  // beyond what it lets be read
        });
        connectDevice();
        QVERIFY(m_messages.isEmpty());
        int coilReads = 0;
        for (const Request& r : requests()) coilReads += r.function == 1;
        QCOMPARE(coilReads, 9);  // 16, 15, ... 8
        for (uint16_t c = 8; c < 15; ++c) QCOMPARE(image().coil(c), uint8_t(0));
    }

    void externalControlThenValveThreeAndTheButtonsComeBack()
    {
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdings[0] = 0;  // manual mode
            d.setValveWord(0);  // all closed
        });
        connectDevice();
        pollStep();
        m_sim->clearRequests();
        select()->ExtControl->click();
        settle();
        QCOMPARE(requests(), (std::vector<Request>{{5, 15, 0xFF00}}));
        QVERIFY(panel()->Mode->isEnabled());
        QVERIFY(panel()->V[2]->isEnabled());
        QVERIFY(!panel()->StepUp->isEnabled());

        m_sim->clearRequests();
        QTest::mouseClick(panel()->V[2], Qt::LeftButton);
        QVERIFY(!panel()->V[2]->isEnabled());
        settle();
        QCOMPARE(requests(), (std::vector<Request>{{5, 2, 0xFF00}}));
        QVERIFY(main()->Timer1->isActive());
        pollStep();  // the device has followed: buttons back at once
        QVERIFY(panel()->V[2]->isEnabled());
        QCOMPARE(image().discrete(2), uint8_t(1));

        device([](zrvsim::DeviceModel& d, auto&) { d.valvesStuck = true; });
        QTest::mouseClick(panel()->V[2], Qt::LeftButton);
        settle();
        pollStep();
        QVERIFY(!panel()->V[2]->isEnabled());
        pollStep();
        QVERIFY(!panel()->V[2]->isEnabled());
        pollStep();  // the third step enables them by mode in any case
        QVERIFY(panel()->V[2]->isEnabled());
    }

    void stepUpWritesDirectionThenTogglesTheStrobe()
    {
        device([](zrvsim::DeviceModel& d, auto&) { d.holdings[0] = 1; });  // step mode
        connectDevice();
        select()->ExtControl->click();
        settle();
        pollStep();  // reads the mode back after enabling by the old selection ...
        pollStep();  // ... so the step mode's buttons come with the next step
        QVERIFY(panel()->StepUp->isEnabled());
        QVERIFY(!panel()->V[0]->isEnabled());
        const int strobe = image().coil(9);
        m_sim->clearRequests();
        QTest::mouseClick(panel()->StepUp, Qt::LeftButton);
        settle();
        QCOMPARE(requests(), (std::vector<Request>{{5, 8, 0xFF00}, {5, 9, strobe ? 0 : 0xFF00}}));
        QCOMPARE(image().coil(8), uint8_t(0));  // the direction is not kept in the image
        pollStep();
        pollStep();
        pollStep();
        m_sim->clearRequests();
        QTest::mouseClick(panel()->StepUp, Qt::LeftButton);
        settle();
        QCOMPARE(requests().at(1), (Request{5, 9, strobe ? 0xFF00 : 0}));
    }

    void modeChangeWritesAndTheListFollowsTheDeviceFromTheSixthStep()
    {
        connectDevice();
        select()->ExtControl->click();
        settle();
        m_sim->clearRequests();
        panel()->Mode->setCurrentIndex(1);
        settle();
        const auto r = m_sim->requests();
        QCOMPARE(r.size(), std::size_t(1));
        QCOMPARE(r[0].frame, (zrvsim::Frame{1, 16, 0, 0, 0, 1, 2, 0, 1, r[0].frame[9], r[0].frame[10]}));
        device([](zrvsim::DeviceModel& d, auto&) {
            QCOMPARE(d.holdings[0], uint16_t(1));
            d.holdings[0] = 3;  // changed at the device meanwhile
        });
        QVERIFY(panel()->StepUp->isEnabled());
        for (int step = 1; step <= 5; ++step) {
            pollStep();
            QCOMPARE(panel()->Mode->currentIndex(), 1);
        }
        m_sim->clearRequests();
        pollStep();
        QCOMPARE(panel()->Mode->currentIndex(), 3);
        QCOMPARE(requests().back(), (Request{3, 0, 1}));
    }

    void monitoringOnlyWritesNothingOnAModeChange()
    {
        connectDevice();
        m_sim->clearRequests();
        panel()->Mode->setCurrentIndex(0);
        settle();
        QVERIFY(requests().empty());
        pollStep();
        QCOMPARE(panel()->Mode->currentIndex(), 2);
    }

    void disconnectUnderExternalControlWritesCoil15Twice()
    {
        connectDevice();
        select()->ExtControl->click();
        settle();
        pollStep();
        m_sim->clearRequests();
        QTest::mouseClick(select()->Disconnect, Qt::LeftButton);
        settle();
        QCOMPARE(requests(), (std::vector<Request>{{5, 15, 0}, {5, 15, 0}}));
        for (TShape* s : panel()->I) QCOMPARE(s->brushColor(), QColor(192, 192, 192));
        TMeasure* m = t().measure;
        for (QLabel* f : {m->P1, m->P2, m->Tg, m->Qi, m->Vbat, m->Mq}) QCOMPARE(f->text(), QStringLiteral("0"));
        QVERIFY(!panel()->Mode->isEnabled());
        for (QPushButton* b : panel()->V) QVERIFY(!b->isEnabled());
        QVERIFY(select()->Monitoring->isChecked());
        QVERIFY(!select()->Monitoring->isEnabled());
        QVERIFY(select()->Connect->isEnabled());
        QVERIFY(select()->ModemEnable->isEnabled());
        QVERIFY(!main()->N8->isEnabled() && !main()->N4->isEnabled());
        QVERIFY(!main()->Timer1->isActive());
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Устройство не обнаружено"));
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QCOMPARE(image().coil(15), uint8_t(0));
    }

    void silentDeviceKeepsTheValuesAndCountsFiveFailuresAStep()
    {
        device([](zrvsim::DeviceModel& d, auto&) { d.setInputFloat(10, 3.6f); });
        connectDevice();
        pollStep();
        QCOMPARE(t().measure->Vbat->text(), QStringLiteral("3.6"));
        device([](auto&, zrvsim::ModbusSlave& s) { s.faults.silent = true; });
        const int before = failures();
        pollStep();
        QCOMPARE(failures(), before + 5);
        QCOMPARE(t().measure->Vbat->text(), QStringLiteral("3.6"));
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-127"));
        QCOMPARE(main()->StatusPanel1->text(),
                 QStringLiteral("Успешных транзакций %1 /Сбоев %2")
                     .arg(session().counters().successes.load())
                     .arg(before + 5));
    }

    void serialDeviceServerOverTcpAndTheServerGoingAway()
    {
        // COM1 becomes the entry file "tcp 127.0.0.1 PORT" of a TCP simulator.
        shutDown();
        zrvsim::SimOptions o;
        o.tcp = true;
        o.pace = true;
        const std::string error = startSim(o);
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        main()->FastF->trigger();  // the fast rule over TCP too
        QVERIFY(session().options().fastFraming);
        connectDevice();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-127"));
        const int before = failures();
        pollStep();
        QCOMPARE(failures(), before);
        QVERIFY(!t().measure->P1->text().isEmpty());

        // The server goes away: the steps fail as against a silent device,
        // the window stays the operator's, and Stop ends the connection.
        const int port = m_sim->tcpPort();
        m_sim->stop();  // also removes its COM1 entry
        pollStep();
        QCOMPARE(failures(), before + 5);
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-127"));
        QVERIFY(select()->Disconnect->isEnabled());
        QTest::mouseClick(select()->Disconnect, Qt::LeftButton);
        settle();
        QCOMPARE(stateName(session().state()), QStringLiteral("Disconnected"));
        QVERIFY(select()->Connect->isEnabled());

        // Nobody listens now: the connection fails like a port that cannot
        // be opened.
        QFile entry(m_dir.path() + "/cfg/zrvterm/ports/COM1");
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(QByteArray("tcp 127.0.0.1 ") + QByteArray::number(port) + "\n");
        entry.close();
        m_messages.clear();
        connectDevice();
        QCOMPARE(m_messages, QStringList{"Error: Невозможно открыть последовательный порт"});
        main()->FastF->trigger();
        QVERIFY(!session().options().fastFraming);
        QVERIFY(entry.remove());  // the next test's simulator takes COM1 again
    }

    void garbageMeasurementsShowAsText()
    {
        device([](zrvsim::DeviceModel& d, auto&) {
            d.setInputFloat(0, std::numeric_limits<float>::quiet_NaN());
            d.setInputFloat(2, std::numeric_limits<float>::infinity());
            d.setInputFloat(4, -3.4e38f);
            d.setInputFloat(6, 3.4e38f);
        });
        connectDevice();
        const int width = t().measure->width();
        pollStep();
        TMeasure* m = t().measure;
        QCOMPARE(m->P1->text(), QStringLiteral("NAN"));
        QCOMPARE(m->P2->text(), QStringLiteral("INF"));
        QCOMPARE(m->Tg->text(), QStringLiteral("-3.4E38"));
        QCOMPARE(m->Qi->text(), QStringLiteral("3.4E35"));
        QCOMPARE(t().measure->width(), width);
    }
};

namespace {
char* toString(const std::vector<Request>& v)
{
    QByteArray s;
    for (const Request& r : v) s += QByteArray::number(r.function) + "," + QByteArray::number(r.start) + "," +
                                    QByteArray::number(r.value, 16) + " ";
    return qstrdup(s.constData());
}
}  // namespace

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"

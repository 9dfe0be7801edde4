// The terminal as a program: started with --connect against the simulated
// device, ended by a signal as a logout or Ctrl-C ends it.

#include "SimServer.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/SettingsFile.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>

class TestProcess : public SimulatedTerminal {
    Q_OBJECT

private:
    // Polling runs: the device has been read and then polled at least once.
    bool polled(int steps)
    {
        int coilReads = 0;
        for (const auto& r : m_sim->requests()) coilReads += r.frame[1] == 1;
        return coilReads >= 1 + steps;  // the first reading of all tables, then one per step
    }
    void start(QProcess& p, const QStringList& arguments)
    {
        QFile::remove(QStringLiteral("zrvterm.ini"));
        p.setProgram(QStringLiteral(ZRVTERM_PROGRAM));
        p.setArguments(arguments);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start();
        QVERIFY(p.waitForStarted());
    }
    QStringList iniLines()
    {
        QFile f(QStringLiteral("zrvterm.ini"));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void cleanup() { m_sim.reset(); }

    void connectsAtStartAndATermSignalClosesAsExitDoes()
    {
        QVERIFY(startSim().empty());
        QProcess p;
        start(p, {"--connect", "COM1", "--address", "1"});
        QVERIFY(QTest::qWaitFor([this] { return polled(2); }, 15000));
        // The window thread is idle between steps: the signal is taken at
        // once, the connection ended, the settings written, status 0.
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(lastRequestIsStop());
        const QStringList ini = iniLines();
        QCOMPARE(ini.size(), 12);
        QCOMPARE(ini.filter(QStringLiteral("ModemEnable: 0")).size(), 1);
    }

    void dialsWithModemAndHangsUpOnHangupSignal()
    {
        zrvsim::SimOptions o;
        o.modem = true;
        QVERIFY(startSim(o).empty());
        QProcess p;
        start(p, {"--connect", "COM1", "--modem", "5551230"});
        QVERIFY(QTest::qWaitFor([this] { return polled(1); }, 15000));
        QVERIFY(m_sim->withModem([](zrvsim::HayesModem& m) { return m.callUp(); }));
        ::kill(pid_t(p.processId()), SIGHUP);
        QVERIFY(p.waitForFinished(20000));  // three guard times of 3.5 s in the hang-up
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(lastRequestIsStop());
        QVERIFY(m_sim->withModem([](zrvsim::HayesModem& m) { return !m.callUp(); }));
        const QStringList ini = iniLines();
        QCOMPARE(ini.filter(QStringLiteral("ModemEnable: 1")).size(), 1);
        QCOMPARE(ini.filter(QStringLiteral("5551230")).size(), 1);

        // A second signal while the hang-up's guard times run ends it at once.
        m_sim->clearRequests();
        start(p, {"--connect", "COM1", "--modem", "5551230"});
        QVERIFY(QTest::qWaitFor([this] { return polled(1); }, 15000));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(QTest::qWaitFor([this] { return lastRequestIsStop(); }, 5000));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(2000));
        QCOMPARE(p.exitCode(), 128 + SIGTERM);
    }
};

QTEST_MAIN(TestProcess)
#include "tst_process.moc"

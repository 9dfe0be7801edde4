// How long the window thread is ever kept from its event loop while the line
// is slow or dead. A 10 ms probe timer runs on the window thread; each case
// prints the longest gap between two of its ticks. Target: under 50 ms in
// every case. The device is the simulator at 9600 baud, in this process (on
// its own thread), so that it can fall silent mid-session.

#include "SimServer.h"
#include "clock/ui/Time_form.h"
#include "connection/ui/Select_form.h"
#include "modem/ui/Modem.h"
#include "session/Session.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "windowbase/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

struct Probe {
    QTimer timer;
    QElapsedTimer since;
    qint64 longest = 0;
    Probe()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { longest = std::max(longest, since.restart()); });
    }
    void start()
    {
        longest = 0;
        since.start();
        timer.start(10);
    }
    qint64 stop()
    {
        timer.stop();
        return std::max(longest, since.elapsed());
    }
};

// Runs the window thread's loop until `done`, as the program would.
void runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct Case {
    std::unique_ptr<zrvsim::SimServer> sim;
    std::unique_ptr<Terminal> terminal;

    explicit Case(zrvsim::SimOptions o = {})
    {
        o.comNumber = 1;
        o.pace = true;
        o.journalRecords = std::max(o.journalRecords, 0);
        sim = std::make_unique<zrvsim::SimServer>(o);
        std::string error;
        if (!sim->start(&error)) std::fprintf(stderr, "bench: %s\n", error.c_str());
        terminal = std::make_unique<Terminal>();
        terminal->main->show();
    }
    ~Case()
    {
        terminal.reset();
        sim.reset();
    }
    zrv::Session& session() { return terminal->session(); }
    bool idle() { return zrv::SessionProbe::idle(session()); }
    void connect()
    {
        terminal->select->ConnectClick();
        runUntil([this] { return stateName(session().state()) == QLatin1String("Monitoring") && idle(); }, 10000);
        zrv::SessionProbe::setPollsItself(session(), false);
    }
    void silence()
    {
        sim->withDevice([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { return s.faults.silent = true; });
    }
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").toUtf8());
    QApplication app(argc, argv);
    QDir::setCurrent(dir.path());
    setMessageBoxHandler([](const QString&, const QString&) {});
    Probe probe;
    qint64 worst = 0;
    const auto report = [&worst](const char* what, qint64 ms) {
        worst = std::max(worst, ms);
        std::printf("%-58s longest window-thread gap %4lld ms (target < 50)\n", what, static_cast<long long>(ms));
        std::fflush(stdout);
    };

    {
        Case c;
        c.silence();
        probe.start();
        c.terminal->select->ConnectClick();
        runUntil([&] { return stateName(c.session().state()) == QLatin1String("Disconnected") && c.idle(); }, 10000);
        report("(a) detection, nobody answering", probe.stop());
    }
    {
        Case c;
        c.connect();
        c.silence();
        probe.start();
        zrv::SessionProbe::setPollsItself(c.session(), true);
        QElapsedTimer t;
        t.start();
        runUntil([&] { return t.elapsed() >= 10000; }, 11000);
        zrv::SessionProbe::setPollsItself(c.session(), false);
        report("(b) 10 s of polling a silent device", probe.stop());
    }
    {
        Case c;
        c.connect();
        c.silence();
        probe.start();
        c.terminal->sets->UploadClick();
        runUntil([&] { return c.idle() && stateName(c.session().state()) != QLatin1String("Busy"); }, 70000);
        report("(c) \"Загрузить из ZRV\", silent device", probe.stop());
    }
    {
        Case c;
        c.connect();
        c.silence();
        probe.start();
        c.terminal->sets->DownloadClick();
        runUntil([&] { return c.idle() && stateName(c.session().state()) != QLatin1String("Busy"); }, 70000);
        report("(d) \"Загрузить в  ZRV\", silent device", probe.stop());
    }
    {
        Case c;
        c.connect();
        c.silence();
        probe.start();
        QTimer::singleShot(5000, c.terminal->timeZRV, [&] { c.terminal->timeZRV->CancelClick(); });
        c.terminal->main->N8Click();  // modal for five seconds
        runUntil([&] { return c.idle(); }, 5000);
        report("(e) clock window, silent device, 5 s", probe.stop());
    }
    {
        zrvsim::SimOptions o;
        o.journalRecords = 300;
        Case c(o);
        c.connect();
        probe.start();
        c.terminal->main->N4->trigger();
        runUntil([&] { return c.idle() && stateName(c.session().state()) != QLatin1String("ReadingJournal"); }, 300000);
        report("(f) journal reading, 300 records", probe.stop());
    }
    {
        zrvsim::SimOptions o;
        o.modem = true;
        Case c(o);
        c.terminal->select->ModemEnable->setChecked(true);
        c.terminal->connectModem->Number->setText(QStringLiteral("5550"));
        QTimer::singleShot(100, c.terminal->connectModem, [&] { c.terminal->connectModem->Button2->click(); });
        c.connect();
        probe.start();
        c.terminal->select->DisconnectClick();
        runUntil([&] { return c.idle() && stateName(c.session().state()) == QLatin1String("Disconnected"); }, 20000);
        report("(g) modem hang-up (10.5 s of guard times)", probe.stop());
    }
    std::printf("worst of all cases: %lld ms (target < 50)\n", static_cast<long long>(worst));
    return 0;
}

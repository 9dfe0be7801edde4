// The terminal connected to a paced zrvsim (a separate process, so that only
// the terminal's own CPU is counted): one polling step against what the wire
// allows, the CPU the terminal uses while it polls once a second, and how long
// the window thread is ever kept from repainting while a journal is read.

#include "connection/ui/Select_form.h"
#include "diagnostics/ui/Traffic_form.h"
#include "session/Session.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "windowbase/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {
// Runs the window thread's loop until the session has nothing left to do.
void runUntilIdle(zrv::Session& s)
{
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    } while (!zrv::SessionProbe::idle(s));
    QCoreApplication::processEvents();
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}
}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").toUtf8());
    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;

    const QString sim = QCoreApplication::applicationDirPath() + "/../sim/zrvsim";
    QProcess device;
    device.start(sim, {"--com", "1", "--pace", "--reply-delay", "3", "--journal", "100"});
    const std::string link = (dir.path() + "/cfg/zrvterm/ports/COM1").toStdString();
    for (int i = 0; i < 100 && !std::filesystem::exists(link); ++i) QThread::msleep(20);
    if (!std::filesystem::exists(link)) {
        std::fprintf(stderr, "bench: zrvsim did not start (%s)\n", qPrintable(sim));
        return 1;
    }

    QDir::setCurrent(dir.path());
    setMessageBoxHandler([](const QString& text, const QString& title) {
        std::fprintf(stderr, "bench: %s: %s\n", qPrintable(title), qPrintable(text));
    });
    auto terminal = std::make_unique<Terminal>();
    TMain* main = terminal->main;
    zrv::Session& session = terminal->session();
    terminal->select->ConnectClick();
    runUntilIdle(session);
    if (!main->Timer1->isActive()) return 1;
    zrv::SessionProbe::setPollsItself(session, false);

    // Five transactions: requests of 8 bytes; replies of 7, 61, 8, 21 and 7.
    constexpr double kByte = 10.0 / 9600.0;
    const double limit = (5 * 8 + 7 + 61 + 8 + 21 + 7) * kByte + 5 * (0.003 + 0.050);
    // Seconds per polling step, over ten steps asked for as Timer1 asks.
    const auto stepTime = [&] {
        constexpr int steps = 10;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < steps; ++i) {
            main->Timer1Timer();
            runUntilIdle(session);
        }
        return double(t.nsecsElapsed()) * 1e-9 / steps;
    };
    const double per = stepTime();
    std::printf("polling step at 9600 baud: %.1f ms, wire limit %.1f ms, ratio %.3f\n", per * 1e3, limit * 1e3,
                per / limit);

    // "Быстрый обмен": each reply ends at its length and 3.5 characters.
    main->FastF->trigger();
    const double fastLimit = (5 * 8 + 7 + 61 + 8 + 21 + 7) * kByte + 5 * (0.003 + 3.5 * kByte);
    const double fastPer = stepTime();
    std::printf("  with reply-length framing: %.1f ms, frame-length wire limit %.1f ms, ratio %.3f (target <= 1.03), "
                "speed-up %.2fx\n",
                fastPer * 1e3, fastLimit * 1e3, fastPer / fastLimit, per / fastPer);
    main->FastF->trigger();

    // The traffic monitor open and full (its 10,000 rows), the trend window
    // open: the step must cost the same.
    main->TrafficF->trigger();
    main->TrendsF->trigger();
    {
        zrv::TransactionRecord filler;
        filler.started = std::chrono::steady_clock::now();
        filler.function = 3;
        filler.request = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
        for (int i = 0; i < 10000; ++i) terminal->traffic->takeRecord(filler);
    }
    QCoreApplication::processEvents();
    const double fullPer = stepTime();
    std::printf("  with the traffic monitor open and full (%d rows) and the trends open: %.1f ms, ratio %.3f to the "
                "wire limit, %.3f to the step without them\n",
                terminal->traffic->shownRows(), fullPer * 1e3, fullPer / limit, fullPer / per);
    main->TrafficF->trigger();
    main->TrendsF->trigger();

    zrv::SessionProbe::setPollsItself(session, true);
    const double cpu0 = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double share = (cpuSeconds() - cpu0) / (double(idle.nsecsElapsed()) * 1e-9);
    std::printf("terminal CPU while connected and polling: %.2f%% of one core over %d s (target < 1%%)\n",
                100.0 * share, idleSeconds);

    // A journal reading runs on the session's thread; the window thread should
    // only ever be busy for the moment it takes to draw a piece or the progress.
    zrv::SessionProbe::setPollsItself(session, false);
    main->N4->trigger();
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        if (stateName(session.state()) != QLatin1String("ReadingJournal") && zrv::SessionProbe::idle(session))
            app.quit();
    });
    probe.start(10);
    app.exec();
    std::printf("longest window-thread gap during a journal reading: %lld ms (probe every 10 ms)\n",
                static_cast<long long>(longestGap));

    terminal.reset();
    device.terminate();
    device.waitForFinished(3000);
    return 0;
}

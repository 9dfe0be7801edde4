// A whole shift at the terminal: the windows as an engineer leaves them
// (main window, measurement window, traffic monitor and trends visible),
// polling a device on the in-memory line once a second. The stores are first
// filled with an hour of polling, then 120 s of real polling are measured;
// then filled up to 24 hours, and 120 s measured again. Printed: the
// process's CPU time per second of wall time at both points (target under
// 0.5 % of a core, and the 24-hour figure within 1.2x of the 1-hour one),
// the window thread's longest wait (over 20 s more, with a 10 ms probe timer,
// apart from the CPU figure so that the probe's wake-ups do not count), and
// the resident memory.

#include "connection/ui/Select_form.h"
#include "diagnostics/ui/Traffic_form.h"
#include "diagnostics/ui/Trends_form.h"
#include "monitor/ui/Measure_form.h"
#include "session/Session.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/MemoryDevice.h"
#include "support/Settle.h"
#include "windowbase/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// The polling step's five transactions as the traffic monitor keeps them.
zrv::diagnostics::TrafficRow sampleRow(int i, std::chrono::system_clock::time_point at)
{
    zrv::TransactionRecord r;
    r.started = std::chrono::steady_clock::now();
    r.duration = std::chrono::microseconds(60000);
    r.slave = 1;
    r.function = uint8_t(i % 5 == 1 ? 4 : 1);
    r.start = uint16_t(i % 5 * 16);
    r.countOrValue = 16;
    r.request = {1, r.function, 0, uint8_t(r.start), 0, 16, 0x12, 0x34};
    r.reply.assign(std::size_t(i % 5 == 1 ? 61 : 7), 0x55);
    r.outcome = i % 997 == 0 ? zrv::TransactOutcome::Timeout : zrv::TransactOutcome::Ok;
    return {at, r};
}

struct Shift {
    double cpuPercent = 0;
    double longestWaitMs = 0;
    double residentMiB = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").toUtf8());
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    // The span the trends show: "24 ч" by default, what an engineer leaving
    // the terminal for a shift looks back over (0 "5 мин", 1 "1 ч", 3 "всё").
    const int span = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 3) : 2;
    QDir::setCurrent(dir.path());
    setMessageBoxHandler([](const QString& text, const QString& title) {
        std::fprintf(stderr, "bench_shift: %s: %s\n", qPrintable(title), qPrintable(text));
    });

    zrvtest::MemoryDevice device;
    auto terminal = std::make_unique<Terminal>();
    zrv::Session& session = terminal->session();
    session.setLineOpener(device.opener());
    terminal->main->resize(1280, 1000);
    terminal->main->show();
    for (QWidget* w : {static_cast<QWidget*>(terminal->measure), static_cast<QWidget*>(terminal->traffic),
                       static_cast<QWidget*>(terminal->trends)})
        w->showNormal();
    terminal->trends->Span->setCurrentIndex(span);
    terminal->select->ConnectClick();
    QElapsedTimer up;
    up.start();
    while (stateName(session.state()) != QLatin1String("Monitoring") && up.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    if (stateName(session.state()) != QLatin1String("Monitoring")) {
        std::fprintf(stderr, "bench_shift: the device was not found on the in-memory line\n");
        return 1;
    }

    // History as polling leaves it: one trend sample a second, five
    // transactions a second in the monitor (which keeps its newest 10,000).
    TTrends* trends = terminal->trends;
    auto* traffic = terminal->traffic;
    double filled = 0;
    const auto fillTo = [&](double until) {
        const auto now = std::chrono::system_clock::now();
        for (; filled < until; filled += 1.0) {
            const double t = filled;
            trends->addSample(t, {float(6 + 0.05 * std::sin(t / 7)), float(1.2 + 0.02 * std::sin(t / 3)),
                                  float(12.5 + 0.3 * std::sin(t / 60)), float(0.5 + 0.025 * std::sin(t / 5)),
                                  float(0.85 + 0.01 * std::sin(t / 11)), float(3.6 - 0.01 * std::sin(t / 90))});
        }
        for (int i = 0; i < 10000; ++i)
            traffic->model().append(sampleRow(i, now - std::chrono::milliseconds((10000 - i) * 200)));
        QCoreApplication::processEvents();
    };

    const auto wait = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const auto measure = [&]() {
        Shift s;
        // Settle first: what the fill left to draw is not the shift's cost.
        wait(3000);
        // The CPU with nothing but the terminal at work; a probe timer would
        // add its own wake-ups, so the longest wait is measured after.
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        wait(seconds * 1000);
        s.cpuPercent = 100.0 * (cpuSeconds() - cpu0) / (double(wall.nsecsElapsed()) / 1e9);
        QElapsedTimer sinceTick;
        double longest = 0;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6 - 10.0);
            sinceTick.restart();
        });
        sinceTick.start();
        probe.start();
        wait(20000);
        probe.stop();
        s.longestWaitMs = std::max(0.0, longest);
        s.residentMiB = residentMiB();
        return s;
    };

    fillTo(3600);
    const Shift hour = measure();
    fillTo(86400);
    const Shift day = measure();

    std::printf("a shift at the terminal: main window, measurement window, traffic monitor and trends (span \"%s\") "
                "visible, polling once a second on the in-memory line, %d s measured at each point\n",
                qPrintable(trends->Span->currentText()), seconds);
    std::printf("CPU after 1 h: %.2f %%\n", hour.cpuPercent);
    std::printf("CPU after 24 h: %.2f %%\n", day.cpuPercent);
    std::printf("  24 h against 1 h: %.2fx (target at most 1.2x); against 0.5 %% of a core: %.2f and %.2f\n",
                day.cpuPercent / std::max(hour.cpuPercent, 1e-9), hour.cpuPercent / 0.5, day.cpuPercent / 0.5);
    std::printf("  window thread's longest wait: %.1f ms after 1 h, %.1f ms after 24 h\n", hour.longestWaitMs,
                day.longestWaitMs);
    std::printf("  resident memory: %.0f MiB after 1 h, %.0f MiB after 24 h\n", hour.residentMiB, day.residentMiB);
    std::printf("  trend samples held %zu, monitor rows %d\n", trends->store().size(), traffic->model().rowCount());
    terminal->endConnection();
    QElapsedTimer end;
    end.start();
    while (stateName(session.state()) != QLatin1String("Disconnected") && end.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return 0;
}

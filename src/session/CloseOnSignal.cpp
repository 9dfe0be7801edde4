#include "CloseOnSignal.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A handler may only do what is async-signal-safe: one write to a pipe that
// the window thread's event loop watches, or _exit.
int g_wakeWrite = -1;
std::atomic<int> g_signalsSeen{0};
std::atomic<bool> g_hangUpReloads{false};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onCloseSignal(int signo)
{
    if (!(signo == SIGHUP && g_hangUpReloads.load()) && g_signalsSeen.fetch_add(1) > 0) _exit(128 + signo);
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] const auto n = ::write(g_wakeWrite, &b, 1);
}

}  // namespace

void closeOnSignals(QObject* owner, std::function<void()> close)
{
    closeOrReloadOnSignals(owner, std::move(close), {});
}

void closeOrReloadOnSignals(QObject* owner, std::function<void()> close, std::function<void()> reload)
{
    g_hangUpReloads = bool(reload);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_wakeWrite = fds[1];
    auto* notifier = new QSocketNotifier(qintptr(fds[0]), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [notifier, fd = fds[0], close = std::move(close), reload = std::move(reload)] {
                         unsigned char b = 0;
                         bool closing = false, reloading = false;
                         while (::read(fd, &b, 1) > 0) (b == SIGHUP && reload ? reloading : closing) = true;
                         if (reloading && !closing) reload();
                         if (!closing) return;
                         notifier->setEnabled(false);
                         close();
                     });
    struct sigaction action = {};
    action.sa_handler = onCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signo, &action, nullptr);
}

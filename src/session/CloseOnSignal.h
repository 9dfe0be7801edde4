#pragma once
// Ctrl-C, a logout's SIGHUP and a service manager's SIGTERM end either
// program cleanly on its main thread: the terminal the way "Выход" does (the
// connection ended as Stop ends it, zrvterm.ini written), the collector with
// its calls hung up and stored. A second signal while that runs ends the
// process at once, for an operator whose line hangs.

#include <QObject>

#include <functional>

// Installs the handlers for SIGINT, SIGTERM and SIGHUP; `close` runs on the
// window thread, once, after the first of them. `owner` keeps the notifier.
void closeOnSignals(QObject* owner, std::function<void()> close);

// As closeOnSignals, but SIGHUP runs `reload` (as a daemon reads its
// configuration again) each time it comes, and closes nothing.
void closeOrReloadOnSignals(QObject* owner, std::function<void()> close, std::function<void()> reload);

#pragma once
// Ctrl-C, a logout's SIGHUP and a service manager's SIGTERM close the
// terminal the way "Выход" does, on the window thread: the connection ended
// as Stop ends it, zrvterm.ini written. A second signal while that runs ends
// the process at once, for an operator whose line hangs.

#include <QObject>

#include <functional>

// Installs the handlers for SIGINT, SIGTERM and SIGHUP; `close` runs on the
// window thread, once, after the first of them. `owner` keeps the notifier.
void closeOnSignals(QObject* owner, std::function<void()> close);

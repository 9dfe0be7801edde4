#pragma once
// The whole terminal: the session and its windows, created in the binding
// order (TMain, TSets, TFront_Panel, TMeasure, TSelect, TAbout_Form,
// TConnectModem, TTimeZRV, TLogView, TLogProgress) and wired together here
// once. The windows know the session, never each other.

#include "session/Session.h"
#include "windowbase/SettingsFile.h"

#include <functional>
#include <memory>

class TMain;
class TSets;
class TFront_Panel;
class TMeasure;
class TSelect;
class TAbout_Form;
class TConnectModem;
class TTimeZRV;
class TLogView;
class TLogProgress;
class TTrafficMonitor;
class TTrends;
class TStations;
class TChangeLog;

class Terminal {
public:
    // The main window reads zrvterm.ini first; the others are placed from it.
    Terminal();
    // The close: timers off, the journal reader asked to stop, the I/O thread
    // awaited, then the windows go.
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    zrv::Session& session() { return *m_session; }

    // As an operator would at start: choose the port COMn, the address and,
    // with a number, the modem, then press Connect (and, with a modem,
    // "Соединить").
    void connectAtStart(int com, int address, const QString& modemNumber);
    // Ends the connection as Stop does (a dialogue in progress is cancelled);
    // nothing when there is none. The session finishes the request in flight
    // first.
    void endConnection();
    // Called once the main window has closed and the connection's end has
    // been asked for; the program sets it to leave its event loop.
    std::function<void()> onClosed;

    // What the close writes into zrvterm.ini, from the child windows (the
    // main window adds its own size).
    zrv::SettingsSnapshot settingsSnapshot() const;

    TMain* main = nullptr;
    TSets* sets = nullptr;
    TFront_Panel* frontPanel = nullptr;
    TMeasure* measure = nullptr;
    TSelect* select = nullptr;
    TAbout_Form* about = nullptr;
    TConnectModem* connectModem = nullptr;
    TTimeZRV* timeZRV = nullptr;
    TLogView* logView = nullptr;
    TLogProgress* logProgress = nullptr;
    TTrafficMonitor* traffic = nullptr;
    TTrends* trends = nullptr;
    TStations* stations = nullptr;
    TChangeLog* changeLog = nullptr;

private:
    std::unique_ptr<zrv::Session> m_session;
};

#pragma once
// What an unattended call's script has of the session while it runs on the
// I/O thread: the same steps the terminal's operations take (open, dial,
// detect and read the tables, hang up), the link and the image, and the stop.
// A script is straight-line code over these and the subsystems' logic
// functions; it runs to its end and hands its result back with post().

#include "link/ModbusTransact.h"
#include "link/ReadAllTables.h"
#include "link/RegisterImage.h"
#include "link/Requests.h"
#include "monitor/PollSnapshot.h"
#include "setpoints/SetpointFile.h"

#include <atomic>
#include <functional>
#include <string>

namespace zrv {

class Session;

// How the connection step ended, for the terminal's connection and the
// collector's call alike.
enum class Detection {
    Found,            // answered and read whole
    PortUnavailable,  // the port could not be opened
    NoDevice,         // nobody answered
    TablesUnread,     // answered, but its tables could not be read
    Stopped,          // the stop came first
};

class CallLine {
public:
    // The port by its name; false and why when it cannot be opened.
    bool open(const std::string& port, std::string* why);
    // Dials on the open port and supervises the answer every 20 ms until the
    // modem connects (true) or gives up or the stop comes (false); `state`
    // gets the modem's own words.
    bool dial(const std::string& number, std::string* state);
    // Detection and the first reading of all tables, as a connection makes
    // them. On failure the port is closed, as the terminal's connection does.
    Detection detect();
    // One polling step.
    PollSnapshot poll();
    // Ends the connection: a modem line is hung up with its guard times; the
    // port is closed. Never gives control back: a call never took it.
    void hangUp(bool viaModem);

    ModbusLink& link();
    const RegisterImage& image() const;
    setpoints::SetpointSet setpoints() const;
    // What a journal reading refreshes the tables with, stop included.
    ReadAllTablesHooks refreshHooks();
    // Set once the owner asked the call to stop; checked between requests.
    bool stopRequested() const;
    const std::atomic<bool>& stopFlag() const;
    // Every transaction of the call, as it is counted (I/O thread).
    void onTransaction(std::function<void(const TransactionRecord&)> observer);
    // Hands f to the thread that owns the session, in order, never waiting.
    void post(std::function<void()> f);

private:
    friend class Session;
    explicit CallLine(Session& session) : m_session(session) {}
    Session& m_session;
};

// An unattended call: the script runs straight through on the I/O thread,
// from opening the port to hanging up, and hands its result back through
// CallLine::post. The session does not poll for it.
struct RunCall {
    std::function<void(CallLine&)> script;
    QueueRule rule() const { return {}; }
};

}  // namespace zrv

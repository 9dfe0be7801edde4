#pragma once
// The one owner of the connection.
//
// A Session holds what the terminal keeps process-wide: the open line, the
// MODBUS link with its counters, the register image, the valve weights as
// read and the operator's setpoint edits. Every transaction of the program runs
// on its one I/O thread, queued in the order asked: detection and the first
// reading of all tables, polling steps, valve, step, mode and control
// commands, setpoint transfers, clock reads and sets, the journal reading,
// modem dialling and hanging up. So a polling step never interleaves with a
// command and no transaction overlaps a close.
//
// The windows sit on top: they read the image (const) and ask the session
// for operations; every request returns at once with its reply
// (Replies.h), through which its progress and its result come back on the
// window thread, in the order the device work produced them.
// One state (stateChanged: the connection, the work in flight, external
// control) tells each window which of its commands apply; the windows never
// look at each other. shell/Terminal wires them together. The collector runs
// a whole call as one script here (RunCall). Where the session stands among
// the layers is written once, in cmake/Layers.cmake.

#include "clock/DeviceClock.h"
#include "clock/Requests.h"
#include "journal/JournalCursor.h"
#include "journal/JournalReading.h"
#include "journal/Requests.h"
#include "link/ModbusTransact.h"
#include "link/Requests.h"
#include "link/SerialLine.h"
#include "link/TransactOutcome.h"
#include "modem/Requests.h"
#include "monitor/Requests.h"
#include "monitor/Updatethread.h"
#include "session/CallLine.h"
#include "session/ChangeRecord.h"
#include "session/Replies.h"
#include "session/SetpointEdits.h"
#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointChecks.h"
#include "setpoints/SetpointDraft.h"
#include "setpoints/SetpointFile.h"
#include "setpoints/Requests.h"
#include "setpoints/ValveWeights.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zrv {

namespace modem {
class ModemDialogue;
}

// The connection, apart from the work on it.
enum class Connection {
    Disconnected,
    Dialling,   // the port is open, the modem dialogue runs
    Detecting,  // the port is opening, or the device is being looked for
    Connected,
    HangingUp,  // the connection is being ended (last coil, modem hang-up)
};

// The work in flight, beside the polling steps and the commands.
enum class Work {
    Idle,
    Transfer,  // a setpoint read or write
    Journal,   // a journal reading
    Call,      // an unattended call's script
};

struct SessionState {
    Connection connection = Connection::Disconnected;
    Work work = Work::Idle;
    // Commands allowed by this terminal's choice ("Внешнее управление").
    bool externalControl = false;

    bool connected() const { return connection == Connection::Connected; }
    // Connected and free for an operator's command.
    bool idle() const { return connected() && work == Work::Idle; }
    bool operator==(const SessionState&) const = default;
};

// A device found by the operator's connection, whoever asked for it.
inline bool deviceFound(const SessionState& state, const SessionState& before)
{
    return state.connected() && !before.connected() && state.work != Work::Call;
}

using ClockReading = clock::ClockReading;

class Session : public QObject {
    Q_OBJECT
public:
    // Opens a port by its "COMn" name; nullptr and the reason when it cannot.
    using LineOpener = std::function<std::unique_ptr<SerialLine>(const std::string& portName, std::string* why)>;

    explicit Session(QObject* parent = nullptr);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The real serial ports unless replaced (tests put an in-memory line here).
    void setLineOpener(LineOpener opener) { m_opener = std::move(opener); }

    // Read side, for the windows.
    const RegisterImage& image() const { return m_image; }
    const LinkCounters& counters() const { return m_link.counters(); }
    SessionState state() const { return {m_connection, m_work, m_externalControl}; }
    // Valve and step commands: the device grants them while its coil 15 is
    // set, by this terminal's choice or still from an earlier connection.
    bool commandsAllowed() const
    {
        return state().idle() && (m_externalControl || m_image.coil(reg::kCoilExternalControl) == 1);
    }
    // The session's own pacing, for the windows that show it (read only).
    const QTimer* pollingTimer() const { return &m_pollTimer; }
    const QTimer* modemTimer() const { return &m_modemTimer; }
    // The clock window has the line while it is shown: polling waits.
    void holdPolling(bool held);

    struct Options {
        // The slave address and reply-length framing ("Быстрый обмен"); they
        // take effect from the next transaction.
        int address = 1;
        bool fastFraming = false;
        // Every write to the device is appended to this file (changes.jsonl);
        // empty: no record kept. Takes effect from the next connection.
        QString changeRecordPath;
    };
    void setOptions(const Options& options);
    Options options() const;

    // The setpoint edits of the operator (see SetpointEdits.h); a write
    // sends them as they stand when it is asked.
    SetpointEdits& setpointEdits() { return m_edits; }

    // The requests (link/Requests.h and each subsystem's X/Requests.h).
    // Each returns at once; a reply, where there is one, always ends, and
    // ends unanswered when the request does not apply in the present state
    // or the queue dropped it. A request that does not apply is ignored.
    //
    // Through a modem, the reply says when the modem waits for its number.
    ConnectReply* ask(const Connect& request);
    // Through a modem, the reply carries what the hang-up says while it runs.
    DisconnectReply* ask(const Disconnect& request);
    void ask(const ExternalControl& request);
    // While Dialling: the modem's supervision (a tick every 20 ms) runs
    // until the reply has the modem's answer.
    DialReply* ask(const modem::Dial& request);
    void ask(const modem::Tick& request);
    void ask(const modem::CancelDial& request);
    void ask(const Poll& request);
    void ask(const ToggleValve& request);
    void ask(const Step& request);
    CommandReply* ask(const SetMode& request);
    SetpointsReply* ask(const setpoints::Read& request);
    SetpointsReply* ask(const setpoints::Write& request);
    ClockReply* ask(const clock::Read& request);
    CommandReply* ask(const clock::Set& request);
    JournalReply* ask(const journal::Read& request);
    void ask(RunCall request);

    // The long work in flight (a journal reading, an unattended call) gives
    // up at its next request. A stopped reading gives the commands back at
    // once: whatever they ask waits in the queue behind its last request. A
    // call's script sees the stop before its next request and hangs up.
    void stop();

    // The close: the request in flight finishes, queued ones are dropped
    // except the ends of a connection, then the line is closed.
    void shutdown();

signals:
    // The connection, the work in flight or external control changed, from
    // `before`. Detected and read whole is the step into Connected outside a
    // call (deviceFound above): the image then holds the device as found.
    void stateChanged(const zrv::SessionState& state, const zrv::SessionState& before);
    void polled(const zrv::PollSnapshot& snapshot);
    // After a write to the device: its line is in the change record (empty),
    // or why it could not be written.
    void changeRecorded(const QString& failure);
    // Every transaction, after it was counted (counters() has it).
    void transaction(const zrv::TransactionRecord& record);

private:
    friend class CallLine;
    // The tests' and benchmarks' view inside (tests/support/SessionProbe.h).
    friend class SessionProbe;
    bool isIdle() const;
    std::size_t queued() const;
    void waitUntilIdle();
    // A request's kind in the queue: one address for each request type.
    template <class Request>
    static inline const char kindOf = 0;
    struct Op {
        const void* kind;
        QueueRule rule;
        std::function<void()> run;
    };

    // Queues the request's work as its queue rule says; false when it was
    // dropped for one of its kind already waiting, or for the close.
    template <class Request>
    bool enqueue(const Request& request, std::function<void()> run)
    {
        return enqueue(&kindOf<Request>, request.rule(), std::move(run));
    }
    bool enqueue(const void* kind, QueueRule rule, std::function<void()> run);
    // I/O thread: hands each attempt of a block transfer to its reply.
    setpoints::AttemptHook transferAttempts(SetpointsReply* reply);
    // A reply of this kind, owned by the session until it ends; `made`
    // false: the request was not taken, and the reply ends unanswered.
    template <class R>
    R* reply(bool made = true);
    // Window thread: the reply's end. A reply lives until then, so the
    // work it answers holds it plainly; a request the close drops goes with
    // the session, its reply with it.
    static void end(Reply* reply, bool answered) { reply->end(answered); }
    // The reply ends unanswered once back in the event loop.
    static void unanswered(Reply* reply);
    // The reply of a request that went into the queue, or was dropped
    // there (then it ends unanswered).
    template <class R>
    static R* taken(R* reply, bool queued);
    // Hands f to the window thread, in order, and never waits. The I/O thread
    // touches nothing of Qt: f goes into a queue of our own, and a write to
    // an eventfd wakes the window thread's event loop (a socket notifier),
    // which runs it. So every handover is a plain mutex and a file
    // descriptor, which thread checkers see, and no Qt object crosses threads.
    void post(std::function<void()> f);
    // Window thread: runs what was handed over, one at a time, so that a
    // result that opens a modal box lets the later ones through in order.
    void deliverPosted();
    void ioLoop();
    void setConnection(Connection c);
    void setWork(Work w);
    // Tells the windows the state, and the one they were last told.
    void announce();
    void setPolling(bool on);
    void updatePollTimer();
    // I/O thread: detection and the first reading, after the port opened.
    void detectDevice();
    Detection detectOnLine();
    // I/O thread: the port by its name, or why not (said on stderr too).
    bool openLine(const std::string& name, std::string* why);
    bool aborted() const { return m_abort.load(std::memory_order_relaxed); }
    // The change record, the I/O thread's: the path and the port are taken
    // from the window thread's with each connection.
    std::string m_changePath;
    std::string m_portName;
    int m_failuresSeen = 0;
    TransactOutcome m_lastFailure = TransactOutcome::Ok;
    // I/O thread: appends one change, the outcome from `ok` or the last
    // failed transaction; says so to the windows when it cannot.
    void recordChange(std::string what, std::string before, std::string after, bool ok);
    // I/O thread: the line taken and let go.
    void takePort(std::unique_ptr<SerialLine> line);
    void closePort();

    // Window thread.
    Connection m_connection = Connection::Disconnected;
    Work m_work = Work::Idle;
    bool m_externalControl = false;
    SessionState m_announced;
    bool m_polling = false;
    bool m_pollHeld = false;
    bool m_pollsItself = true;
    bool m_viaModem = false;
    QString m_changeRecordPath;
    QTimer m_pollTimer;
    QTimer m_modemTimer;
    uint64_t m_journalRun = 0;
    LineOpener m_opener;
    // The connection being made and the number being dialled, until each
    // ends.
    QPointer<ConnectReply> m_connecting;
    QPointer<DialReply> m_dialling;

    // Shared: each entry atomic, written by one thread.
    RegisterImage m_image;
    ValveWeightArray m_weights{};
    ModbusLink m_link{m_image};
    SetpointEdits m_edits{m_image, m_weights};  // window thread
    std::atomic<bool> m_abort{false};        // the connection is being ended
    std::atomic<bool> m_journalStop{false};  // the operator's stop
    std::atomic<bool> m_portOpen{false};

    // I/O thread.
    uint8_t ValveHoldOff = 0;
    uint8_t ModeHoldOff = 0;
    bool m_deviceFound = false;
    std::unique_ptr<modem::ModemDialogue> m_dialogue;
    std::function<void(const TransactionRecord&)> m_callTrace;

    mutable std::mutex m_postMutex;
    std::deque<std::function<void()>> m_posted;
    int m_wakeFd = -1;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Op> m_queue;
    bool m_running = false;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace zrv

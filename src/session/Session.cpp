#include "Session.h"

#include "journal/Readlog.h"
#include "journal/ReportBuilder.h"
#include "link/ModbusFrame.h"
#include "link/OpenPort.h"
#include "link/ReadAllTables.h"
#include "modem/ModemDialogue.h"
#include "monitor/PanelCommands.h"
#include "setpoints/SetpointChecks.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>

namespace zrv {

namespace {

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

Session::Session(QObject* parent) : QObject(parent), m_opener(openPort)
{
    m_pollTimer.setObjectName(QStringLiteral("Timer1"));
    m_pollTimer.setInterval(1000);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] {
        if (m_pollsItself) ask(Poll{});
    });
    m_modemTimer.setInterval(modem::kTickInterval);
    connect(&m_modemTimer, &QTimer::timeout, this, [this] { ask(modem::Tick{}); });
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    auto* wake = new QSocketNotifier(qintptr(m_wakeFd), QSocketNotifier::Read, this);
    connect(wake, &QSocketNotifier::activated, this, &Session::deliverPosted);
    // Runs on the I/O thread; it only hands the record on.
    m_link.setTraceSink([this](const TransactionRecord& record) {
        if (record.outcome != TransactOutcome::Ok) {
            ++m_failuresSeen;
            m_lastFailure = record.outcome;
        }
        if (m_callTrace) m_callTrace(record);
        post([this, record] { emit transaction(record); });
    });
    m_thread = std::thread([this] { ioLoop(); });
}

Session::~Session()
{
    shutdown();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void Session::post(std::function<void()> f)
{
    {
        std::lock_guard<std::mutex> lock(m_postMutex);
        m_posted.push_back(std::move(f));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
}

void Session::deliverPosted()
{
    uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(m_wakeFd, &count, sizeof count);
    for (;;) {
        std::function<void()> f;
        {
            std::lock_guard<std::mutex> lock(m_postMutex);
            if (m_posted.empty()) return;
            f = std::move(m_posted.front());
            m_posted.pop_front();
        }
        f();
    }
}

// ---- the queue --------------------------------------------------------------

bool Session::enqueue(const void* kind, QueueRule rule, std::function<void()> run)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return false;
    if (rule.coalesce && std::any_of(m_queue.begin(), m_queue.end(), [kind](const Op& op) { return op.kind == kind; }))
        return false;
    m_queue.push_back({kind, rule, std::move(run)});
    m_cv.notify_all();
    return true;
}

void Session::ioLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) break;  // stopping, nothing left
        Op op = std::move(m_queue.front());
        m_queue.pop_front();
        m_running = true;
        lock.unlock();
        op.run();
        lock.lock();
        m_running = false;
        m_cv.notify_all();
    }
}

bool Session::isIdle() const
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue.empty() || m_running) return false;
    }
    std::lock_guard<std::mutex> lock(m_postMutex);
    return m_posted.empty();
}

std::size_t Session::queued() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size();
}

void Session::waitUntilIdle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_queue.empty() && !m_running; });
}

void Session::shutdown()
{
    // The pacing stops first: no tick asks for anything after the close.
    m_pollTimer.stop();
    m_modemTimer.stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping && !m_thread.joinable()) return;
        m_stopping = true;
        // Long work gives up at its next request; a connection's end still
        // runs, so the device is not left under external control and a
        // dialled line is hung up.
        m_abort = true;
        m_journalStop = true;
        std::erase_if(m_queue, [](const Op& op) { return !op.rule.runsAtClose; });
        m_cv.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
    closePort();
    m_link.setTraceSink(nullptr);
}

void Session::takePort(std::unique_ptr<SerialLine> line)
{
    m_link.setPort(std::move(line));
    m_portOpen.store(true, std::memory_order_release);
}

void Session::closePort()
{
    m_link.closePort();
    m_portOpen.store(false, std::memory_order_release);
}

// ---- state --------------------------------------------------------------------

void Session::setConnection(Connection c)
{
    if (c == m_connection) return;
    m_connection = c;
    // Left before their answer: the operator ended them.
    if (m_connecting && (c == Connection::HangingUp || c == Connection::Disconnected)) end(m_connecting, false);
    if (m_dialling && c != Connection::Dialling) end(m_dialling, false);
    announce();
}

void Session::setWork(Work w)
{
    if (w == m_work) return;
    m_work = w;
    announce();
}

void Session::announce()
{
    const SessionState before = m_announced;
    m_announced = state();
    if (m_announced == before) return;
    emit stateChanged(m_announced, before);
}

void Session::setOptions(const Options& options)
{
    m_link.setSlaveAddress(uint8_t(options.address));
    m_link.setFastFraming(options.fastFraming);
    m_changeRecordPath = options.changeRecordPath;
}

Session::Options Session::options() const
{
    return {m_link.slaveAddress(), m_link.fastFraming(), m_changeRecordPath};
}

void Session::setPolling(bool on)
{
    if (on == m_polling) return;
    m_polling = on;
    updatePollTimer();
}

void Session::holdPolling(bool held)
{
    m_pollHeld = held;
    updatePollTimer();
}

void Session::updatePollTimer()
{
    if (m_polling && !m_pollHeld) {
        if (!m_pollTimer.isActive()) m_pollTimer.start();
    } else {
        m_pollTimer.stop();
    }
}

// ---- connection ---------------------------------------------------------------

ConnectReply* Session::ask(const Connect& request)
{
    const bool viaModem = request.viaModem;
    if (m_connection != Connection::Disconnected) return reply<ConnectReply>(false);
    m_connecting = reply<ConnectReply>();
    m_abort = false;
    m_externalControl = false;
    m_viaModem = viaModem;
    setConnection(viaModem ? Connection::Dialling : Connection::Detecting);
    const std::string name = request.port;
    const std::string changes = m_changeRecordPath.toStdString();
    const bool queued = enqueue(request, [this, name, changes, viaModem] {
        m_portName = name;
        m_changePath = changes;
        std::string why;
        if (!openLine(name, &why)) {
            const QString reason = fromUtf8(why);
            post([this, reason] {
                if (m_connecting) {
                    emit m_connecting->failed(Detection::PortUnavailable, reason);
                    end(m_connecting, true);
                }
                setConnection(Connection::Disconnected);
            });
            return;
        }
        if (viaModem) {
            m_dialogue = std::make_unique<modem::ModemDialogue>(*m_link.port());
            post([this] {
                if (m_connecting) emit m_connecting->modemReady();
            });
            return;
        }
        detectDevice();
    });
    return taken(m_connecting.data(), queued);
}

void Session::detectDevice()
{
    post([this] {
        if (m_connection == Connection::Dialling) setConnection(Connection::Detecting);
    });
    const Detection found = detectOnLine();
    // Stopped: the disconnection queued behind closes the port.
    if (found == Detection::Stopped) return;
    if (found != Detection::Found) {
        post([this, found] {
            if (m_connecting) {
                emit m_connecting->failed(found, QString());
                end(m_connecting, true);
            }
            setConnection(Connection::Disconnected);
        });
        return;
    }
    const PollSnapshot device = snapshotOf(m_image);
    post([this, device] {
        if (m_connection != Connection::Detecting) return;
        // Edits made against another connection's device are not this one's.
        m_edits.clear();
        setConnection(Connection::Connected);
        if (m_connecting) {
            emit m_connecting->found(device);
            end(m_connecting, true);
        }
        setPolling(true);
    });
}

bool Session::openLine(const std::string& name, std::string* why)
{
    std::unique_ptr<SerialLine> line = m_opener ? m_opener(name, why) : nullptr;
    if (!line) {
        std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, name.c_str(), why->c_str());
        return false;
    }
    takePort(std::move(line));
    return true;
}

Detection Session::detectOnLine()
{
    bool found = false;
    for (int attempt = 0; attempt < 4 && !found && !aborted(); ++attempt)
        found = ModbusTransact(m_link, modbus::kReadHoldingRegisters, reg::kMode, 1) == kTransactOk;
    if (aborted()) return Detection::Stopped;
    if (!found) {
        closePort();
        return Detection::NoDevice;
    }
    ReadAllTablesHooks hooks;
    hooks.afterHolding = [this] { takeValveWeights(m_image, m_weights); };
    hooks.stopRequested = [this] { return aborted(); };
    if (ReadAllTables(m_link, hooks)) {
        if (aborted()) return Detection::Stopped;
        closePort();
        return Detection::TablesUnread;
    }
    m_deviceFound = true;
    return Detection::Found;
}

void Session::recordChange(std::string what, std::string before, std::string after, bool ok)
{
    if (m_changePath.empty()) return;
    ChangeEntry entry;
    entry.what = std::move(what);
    entry.before = std::move(before);
    entry.after = std::move(after);
    entry.port = m_portName;
    entry.device = journal::reportDeviceNumber(m_image);
    entry.outcome = ok ? kOkWord : outcomeGroup(m_lastFailure);
    std::string why;
    if (appendChange(m_changePath, changeLine(entry), &why)) {
        post([this] { emit changeRecorded(QString()); });
        return;
    }
    const QString text = fromUtf8(why);
    post([this, text] { emit changeRecorded(text); });
}

DisconnectReply* Session::ask(const Disconnect& request)
{
    if (m_connection == Connection::Disconnected || m_connection == Connection::HangingUp)
        return reply<DisconnectReply>(false);
    auto* r = reply<DisconnectReply>();
    const bool viaModem = m_viaModem;
    m_modemTimer.stop();
    m_abort = true;
    m_journalStop = true;
    setPolling(false);
    // The work in flight gives up at its next request.
    m_work = Work::Idle;
    setConnection(Connection::HangingUp);
    const bool queued = enqueue(request, [this, r, viaModem] {
        SerialLine* line = m_link.port();
        if (m_deviceFound) {
            const int failures = m_failuresSeen;
            sendExternalControl(m_link, false);
            recordChange("external control", "null", "false", m_failuresSeen == failures);
        }
        if (viaModem && line) {
            modem::HangUp(*line, [this, r](const std::string& text) {
                const QString t = fromUtf8(text);
                post([r, t] { emit r->status(t); });
            });
        }
        m_dialogue.reset();
        closePort();
        m_deviceFound = false;
        post([this, r] {
            setConnection(Connection::Disconnected);
            end(r, true);
        });
    });
    return taken(r, queued);
}

void Session::ask(const ExternalControl& request)
{
    const bool on = request.on;
    if (!state().idle() || on == m_externalControl) return;
    m_externalControl = on;
    announce();
    enqueue(request, [this, on] {
        const int failures = m_failuresSeen;
        sendExternalControl(m_link, on);
        recordChange("external control", on ? "false" : "true", on ? "true" : "false",
                     m_failuresSeen == failures);
    });
}

// ---- modem --------------------------------------------------------------------

DialReply* Session::ask(const modem::Dial& request)
{
    if (m_connection != Connection::Dialling) return reply<DialReply>(false);
    // A number dialled again: the last one's answer no longer matters.
    if (m_dialling) end(m_dialling, false);
    m_dialling = reply<DialReply>();
    const std::string digits = request.number;
    m_modemTimer.stop();
    enqueue(request, [this, digits] {
        if (m_dialogue) m_dialogue->dial(digits);
    });
    m_modemTimer.start();
    return m_dialling;
}

void Session::ask(const modem::Tick& request)
{
    if (m_connection != Connection::Dialling) return;
    enqueue(request, [this] {
        if (!m_dialogue) return;
        const modem::TickOutcome r = m_dialogue->tick();
        if (!r.finished()) return;
        const bool success = r.success();
        const QString state = fromUtf8(r.state);
        post([this, success, state] {
            // Nothing stays pending on the line: the next transaction owns it.
            m_modemTimer.stop();
            if (m_dialling) {
                emit m_dialling->dialled(success, state);
                end(m_dialling, true);
            }
        });
        if (!success) return;
        m_dialogue.reset();
        detectDevice();
    });
}

void Session::ask(const modem::CancelDial& request)
{
    if (m_connection != Connection::Dialling) return;
    m_modemTimer.stop();
    enqueue(request, [this] {
        if (m_dialogue) m_dialogue->abandon();
        m_dialogue.reset();
        closePort();
        post([this] { setConnection(Connection::Disconnected); });
    });
}

// ---- polling and commands -----------------------------------------------------

void Session::ask(const Poll& request)
{
    if (!state().idle()) return;
    enqueue(request, [this] {
        if (!m_deviceFound || aborted()) return;
        const PollSnapshot r = TUpdate1(m_link, ValveHoldOff, ModeHoldOff).Execute();
        post([this, r] {
            // A step that ran before a disconnection shows nothing after it.
            if (!state().connected()) return;
            emit polled(r);
        });
    });
}

void Session::ask(const ToggleValve& request)
{
    const int valve = request.valve;
    if (!commandsAllowed() || valve < 1 || valve > reg::kValveCount) return;
    enqueue(request, [this, valve] {
        const int failures = m_failuresSeen;
        const auto coil = uint16_t(reg::kCoilValve1 + valve - 1);
        const std::string before = std::to_string(m_image.coil(coil));
        sendValveToggle(m_link, valve, ValveHoldOff);
        recordChange("valve " + std::to_string(valve), before, std::to_string(m_image.coil(coil)),
                     m_failuresSeen == failures);
    });
}

void Session::ask(const Step& request)
{
    const bool up = request.up;
    if (!commandsAllowed()) return;
    enqueue(request, [this, up] {
        const int failures = m_failuresSeen;
        sendStep(m_link, up, ValveHoldOff);
        recordChange("step", "null", up ? "\"up\"" : "\"down\"", m_failuresSeen == failures);
    });
}

template <class R>
R* Session::reply(bool made)
{
    auto* r = new R(this);
    if (!made) unanswered(r);
    return r;
}

template <class R>
R* Session::taken(R* r, bool queued)
{
    if (!queued) unanswered(r);
    return r;
}

void Session::unanswered(Reply* r)
{
    r->m_refused = true;
    // After the asker has connected to it.
    QMetaObject::invokeMethod(r, [r] { r->end(false); }, Qt::QueuedConnection);
}

CommandReply* Session::ask(const SetMode& request)
{
    if (!state().idle() || !m_externalControl) return reply<CommandReply>(false);
    const uint16_t mode = uint16_t(request.index < 0 ? 0 : request.index);
    auto* r = reply<CommandReply>();
    const bool queued = enqueue(request, [this, mode, r] {
        const std::string before = std::to_string(m_image.holding(reg::kMode));
        const bool ok = sendMode(m_link, mode, ModeHoldOff);
        recordChange("mode", before, std::to_string(mode), ok);
        post([r, ok] {
            emit r->done(ok);
            end(r, true);
        });
    });
    return taken(r, queued);
}

// ---- setpoints ----------------------------------------------------------------

setpoints::AttemptHook Session::transferAttempts(SetpointsReply* reply)
{
    return [this, reply](int attempt, int attempts) {
        post([this, reply, attempt, attempts] {
            if (m_work == Work::Transfer) emit reply->attempt(attempt, attempts);
        });
    };
}

SetpointsReply* Session::ask(const setpoints::Read& request)
{
    if (!state().idle()) return reply<SetpointsReply>(false);
    setPolling(false);
    setWork(Work::Transfer);
    auto* r = reply<SetpointsReply>();
    const bool queued = enqueue(request, [this, r] {
        const bool ok = setpoints::readHoldingBlock(m_link, [this] { return aborted(); }, transferAttempts(r));
        if (aborted()) return post([r] { end(r, false); });
        std::optional<setpoints::SetpointSet> set;
        if (ok) set = setpoints::currentSetpoints(m_image, m_weights);
        post([this, r, set] {
            if (m_work != Work::Transfer) return end(r, false);
            setWork(Work::Idle);
            // After a failed read polling stays stopped.
            if (set) {
                // The operator asked for the device's set: it replaces the edits.
                m_edits.clear();
                setPolling(true);
            }
            emit r->read(set);
            end(r, true);
        });
    });
    return taken(r, queued);
}

SetpointsReply* Session::ask(const setpoints::Write& request)
{
    if (!state().idle()) return reply<SetpointsReply>(false);
    setPolling(false);
    setWork(Work::Transfer);
    const setpoints::DraftRows draft = m_edits.rows();
    auto* r = reply<SetpointsReply>();
    const bool queued = enqueue(request, [this, r, draft] {
        // The draft goes into the image, and the checks copy the pending
        // weights into it, here, right before the write, where no polling
        // step or table refresh can come between.
        std::array<uint16_t, setpoints::kSetpointRegisters> before{};
        for (uint16_t r = 0; r < before.size(); ++r) before[r] = m_image.holding(r);
        draft.applyTo(m_image, m_weights);
        const std::string refusal = setpoints::checkBeforeWrite(m_image, m_weights);
        const bool written =
            refusal.empty() && setpoints::writeHoldingBlock(m_link, [this] { return aborted(); }, transferAttempts(r));
        if (refusal.empty()) {
            // The registers the write changed: as last read, and as sent.
            std::string was = "{", now = "{";
            for (uint16_t r = 0; r < before.size(); ++r) {
                if (before[r] == m_image.holding(r)) continue;
                const std::string key = (was.size() > 1 ? ",\"" : "\"") + std::to_string(r) + "\":";
                was += key + std::to_string(before[r]);
                now += key + std::to_string(m_image.holding(r));
            }
            recordChange("setpoints", was + "}", now + "}", written);
        }
        if (aborted()) return post([r] { end(r, false); });
        const QString text = fromUtf8(refusal);
        post([this, r, written, text, draft] {
            if (written) m_edits.forget(draft);
            if (m_work != Work::Transfer) return end(r, false);
            setWork(Work::Idle);
            setPolling(true);
            emit r->written(written, text);
            end(r, true);
        });
    });
    return taken(r, queued);
}

// ---- clock --------------------------------------------------------------------

ClockReply* Session::ask(const clock::Read& request)
{
    const bool time = request.time, date = request.date;
    if (!state().connected() || (!time && !date)) return reply<ClockReply>(false);
    auto* r = reply<ClockReply>();
    const bool queued = enqueue(request, [this, r, time, date] {
        const ClockReading reading = clock::readDeviceClock(m_link, time, date);
        post([r, reading] {
            emit r->read(reading);
            end(r, true);
        });
    });
    // Dropped: the read already waiting will do.
    return taken(r, queued);
}

CommandReply* Session::ask(const clock::Set& request)
{
    const clock::TimeOfDay time = request.time;
    const clock::CivilDate date = request.date;
    if (!state().connected()) return reply<CommandReply>(false);
    auto* r = reply<CommandReply>();
    const bool queued = enqueue(request, [this, r, time, date] {
        const auto in = [this](int i) { return m_image.input(uint16_t(reg::kInClockSec + i)); };
        const clock::TimeOfDay t0 = clock::timeFromRegisters(in(0), in(1), in(2));
        const clock::CivilDate d0 = clock::dateFromRegisters(in(3), in(4), in(5));
        char was[40], now[40];
        std::snprintf(was, sizeof was, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", d0.year, d0.month, d0.day, t0.hours, t0.minutes,
                      t0.seconds);
        std::snprintf(now, sizeof now, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", date.year, date.month, date.day, time.hours,
                      time.minutes, time.seconds);
        const bool ok = clock::setDeviceClock(m_link, time, date);
        recordChange("clock", was, now, ok);
        post([r, ok] {
            emit r->done(ok);
            end(r, true);
        });
    });
    return taken(r, queued);
}

// ---- journal ------------------------------------------------------------------

JournalReply* Session::ask(const journal::Read& request)
{
    if (!state().idle()) return reply<JournalReply>(false);
    setPolling(false);
    m_journalStop = false;
    const uint64_t run = ++m_journalRun;
    setWork(Work::Journal);
    auto* r = reply<JournalReply>();
    const bool queued = enqueue(request, [this, r, run, known = request.known] {
        JournalSink sink;
        sink.status = [this, r](const std::string& s) {
            const QString t = fromUtf8(s);
            post([r, t] { emit r->status(t); });
        };
        sink.piece = [this, r](const std::string& s) {
            const QString t = fromUtf8(s);
            post([r, t] { emit r->piece(t); });
        };
        sink.progress = [this, r](uint16_t words, int32_t records) {
            post([r, words, records] { emit r->progress(words, records); });
        };
        ReadAllTablesHooks refresh;
        refresh.afterHolding = [this] { takeValveWeights(m_image, m_weights); };
        // The refresh asks the device 170 times and more before it gives up
        // on a silent one; the end of the connection need not wait for that.
        refresh.stopRequested = [this] { return aborted(); };
        TReadLog reader(m_link, m_journalStop, sink, refresh);
        reader.findNewest();
        // An empty list of known records is no earlier report: the whole ring.
        JournalEnd end;
        end.newOnly = known.has_value() && !known->empty();
        end.summary = fromUtf8(reader.Execute(end.newOnly ? &*known : nullptr));
        end.keys = reader.result().keys;
        end.deviceNumber = journal::reportDeviceNumber(m_image);
        if (reader.result().cutShort) end.cutShort = fromUtf8(reader.failureText());
        post([this, r, run, end = std::move(end)] {
            if (run == m_journalRun && m_work == Work::Journal) setWork(Work::Idle);
            if (state().idle()) setPolling(true);
            emit r->finished(end);
            Session::end(r, true);
        });
    });
    return taken(r, queued);
}

void Session::stop()
{
    m_journalStop = true;
    if (m_work == Work::Call) m_abort = true;
    if (m_work == Work::Journal) setWork(Work::Idle);
}

// ---- an unattended call ---------------------------------------------------------

void Session::ask(RunCall request)
{
    m_abort = false;
    m_journalStop = false;
    setWork(Work::Call);
    auto script = std::move(request.script);
    enqueue(request, [this, script = std::move(script)] {
        CallLine line(*this);
        script(line);
        m_callTrace = nullptr;
        post([this] { setWork(Work::Idle); });
    });
}

bool CallLine::open(const std::string& port, std::string* why)
{
    if (!m_session.openLine(port, why)) return false;
    post([s = &m_session] { s->setConnection(Connection::Detecting); });
    return true;
}

bool CallLine::dial(const std::string& number, std::string* state)
{
    SerialLine* port = m_session.m_link.port();
    if (!port) return false;
    post([s = &m_session] { s->setConnection(Connection::Dialling); });
    modem::ModemDialogue dialogue(*port);
    dialogue.dial(number);
    for (;;) {
        std::this_thread::sleep_for(modem::kTickInterval);
        if (stopRequested()) return false;
        const modem::TickOutcome r = dialogue.tick();
        if (!r.finished()) continue;
        *state = r.state;
        if (r.success()) post([s = &m_session] { s->setConnection(Connection::Detecting); });
        return r.success();
    }
}

Detection CallLine::detect()
{
    const Detection found = m_session.detectOnLine();
    if (found == Detection::Found) post([s = &m_session] { s->setConnection(Connection::Connected); });
    if (found == Detection::NoDevice || found == Detection::TablesUnread)
        post([s = &m_session] { s->setConnection(Connection::Disconnected); });
    return found;
}

PollSnapshot CallLine::poll() { return TUpdate1(m_session.m_link, m_session.ValveHoldOff, m_session.ModeHoldOff).Execute(); }

void CallLine::hangUp(bool viaModem)
{
    post([s = &m_session] { s->setConnection(Connection::HangingUp); });
    SerialLine* line = m_session.m_link.port();
    if (viaModem && line) modem::HangUp(*line, [](const std::string&) {});
    m_session.closePort();
    m_session.m_deviceFound = false;
    post([s = &m_session] { s->setConnection(Connection::Disconnected); });
}

ModbusLink& CallLine::link() { return m_session.m_link; }

const RegisterImage& CallLine::image() const { return m_session.m_image; }

setpoints::SetpointSet CallLine::setpoints() const
{
    return setpoints::currentSetpoints(m_session.m_image, m_session.m_weights);
}

ReadAllTablesHooks CallLine::refreshHooks()
{
    ReadAllTablesHooks refresh;
    refresh.afterHolding = [this] { takeValveWeights(m_session.m_image, m_session.m_weights); };
    refresh.stopRequested = [this] { return stopRequested(); };
    return refresh;
}

bool CallLine::stopRequested() const { return m_session.aborted(); }

const std::atomic<bool>& CallLine::stopFlag() const { return m_session.m_journalStop; }

void CallLine::onTransaction(std::function<void(const TransactionRecord&)> observer)
{
    m_session.m_callTrace = std::move(observer);
}

void CallLine::post(std::function<void()> f) { m_session.post(std::move(f)); }

}  // namespace zrv

#include "StationCall.h"

#include "link/OpenPort.h"
#include "session/Session.h"
#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointFile.h"

#include <QUuid>

#include <cstdlib>

namespace zrv::collect {

namespace {

// The holding registers that carry setpoints: those the table shows (both
// halves of a float) and the valve weights, which make the device number.
// The mode and the clock-setting registers change in service.
std::array<bool, setpoints::kSetpointRegisters> setpointRegisters()
{
    std::array<bool, setpoints::kSetpointRegisters> out{};
    for (const setpoints::Row& row : setpoints::catalogue()) {
        if (row.reg >= setpoints::kSetpointRegisters) continue;
        out[std::size_t(row.reg)] = true;
        const bool isFloat = row.display == setpoints::Display::G4 || row.display == setpoints::Display::Thousandths;
        if (isFloat && row.reg + 1 < setpoints::kSetpointRegisters) out[std::size_t(row.reg + 1)] = true;
    }
    for (int v = 0; v < reg::kValveCount; ++v) out[std::size_t(reg::kZrvFactor1 + v)] = true;
    return out;
}

}  // namespace

StationCall::StationCall(const Station& station, KnownRecords known, PhaseSink phase, QObject* parent)
    : QObject(parent), m_station(station), m_known(std::move(known)), m_phase(std::move(phase))
{
}

StationCall::~StationCall()
{
    if (m_session) m_session->shutdown();
}

void StationCall::start(int attempt)
{
    m_result = CallResult{};
    m_result.callId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_result.station = m_station.name;
    m_result.port = m_station.port;
    m_result.attempt = attempt;
    m_result.started = QDateTime::currentDateTimeUtc();
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_hangingUp = m_finished = false;

    m_session = std::make_unique<Session>();
    Session* s = m_session.get();
    // The call asks for exactly what it needs: no polling of its own.
    QObject::disconnect(s->pollingTimer(), &QTimer::timeout, s, nullptr);
    s->setLineOpener(openPortSpec);
    s->setSlaveAddress(m_station.address);
    // A reply ends when its length says so, not after 50 ms of silence:
    // over a round of hundreds of requests that silence would be most of it.
    s->setFastFraming(true);
    // A call writes nothing but the clock, and that only when asked.
    s->setGiveControlBackAtClose(false);

    connect(s, &Session::countersChanged, this, [this](int ok, int failed) {
        m_result.transactionsOk = ok;
        m_result.transactionsFailed = failed;
    });
    connect(s, &Session::transaction, this, [this](const TransactionRecord& t) {
        switch (t.outcome) {
        case TransactOutcome::Ok: break;
        case TransactOutcome::Timeout: ++m_result.timeouts; break;
        case TransactOutcome::CrcError: ++m_result.crcErrors; break;
        case TransactOutcome::Exception: ++m_result.exceptions; break;
        default: ++m_result.otherFailures; break;
        }
    });
    connect(s, &Session::connectionFailed, this, [this, s](ConnectFailure why) {
        switch (why) {
        case ConnectFailure::PortUnavailable:
            return hangUp(Outcome::PortUnavailable, s->openFailure().toStdString());
        case ConnectFailure::NoDevice: return hangUp(Outcome::NoDevice, "нет ответа на запросы");
        case ConnectFailure::TablesUnread: return hangUp(Outcome::TablesUnread, "таблицы прибора не прочитаны");
        }
    });
    connect(s, &Session::modemDialogueWanted, this, [this, s] {
        m_phase(QStringLiteral("набор номера %1").arg(QString::fromStdString(m_station.phone)));
        s->dial(QString::fromStdString(m_station.phone));
    });
    connect(s, &Session::modemResult, this, [this](bool success, const QString& state) {
        if (!success) hangUp(Outcome::DialFailed, state.toStdString());
        else m_phase(QStringLiteral("соединено, поиск прибора"));
    });
    connect(s, &Session::deviceFound, this, [this](const PollSnapshot&) { found(); });
    connect(s, &Session::polled, this, [this, s](const PollSnapshot& p) {
        if (m_hangingUp) return;
        m_result.measurements = p.measurements;
        m_phase(QStringLiteral("часы прибора"));
        s->readClock(true, true);
    });
    connect(s, &Session::clockRead, this, &StationCall::clockRead);
    connect(s, &Session::clockSet, this, [this](bool ok) {
        if (m_hangingUp) return;
        m_result.clockSet = ok;
        readJournal();
    });
    connect(s, &Session::journalProgress, this, [this](int words, int records) {
        m_phase(QStringLiteral("чтение журнала: %1 слов, %2 записей").arg(words).arg(records));
    });
    connect(s, &Session::journalRecord, this, [this](unsigned, const journal::RecordData& r) { m_result.records.push_back(r); });
    connect(s, &Session::journalCursorRead, this, [this](unsigned, const journal::CursorReading& reading) {
        m_result.cursor = reading.after;
        m_result.recordsLost = reading.recordsLost;
    });
    connect(s, &Session::journalCutShort, this, [this](const QString& why) {
        m_result.journalCutShort = true;
        hangUp(Outcome::Incomplete, "чтение журнала прервано: " + why.toStdString());
    });
    connect(s, &Session::journalFinished, this, [this](const QString&) {
        // A cut-short reading says so right after this; let it.
        QMetaObject::invokeMethod(this, [this] {
            if (!m_hangingUp) readSetpoints();
        }, Qt::QueuedConnection);
    });
    connect(s, &Session::setpointsRead, this, [this](bool ok) {
        if (m_hangingUp) return;
        if (!ok) return hangUp(Outcome::Incomplete, "уставки не прочитаны");
        compareProfile();
        hangUp(Outcome::Ok);
    });
    connect(s, &Session::stateChanged, this, [this](LinkState state) {
        if (state == LinkState::Disconnected && m_hangingUp) done();
    });

    const bool viaModem = !m_station.phone.empty();
    m_phase(viaModem ? QStringLiteral("открытие порта модема") : QStringLiteral("открытие порта"));
    s->connectDevice(QString::fromStdString(m_station.port), viaModem);
}

void StationCall::stop()
{
    m_stopping = true;
    if (!m_hangingUp && !m_finished) hangUp(Outcome::Stopped, "сбор остановлен");
}

void StationCall::found()
{
    if (m_hangingUp) return;
    m_result.deviceNumber = m_session->deviceNumber();
    m_phase(QStringLiteral("ZRV-%1 найден, опрос").arg(m_result.deviceNumber));
    m_session->poll();
}

void StationCall::clockRead(const clock::ClockReading& r)
{
    if (m_hangingUp) return;
    const QDateTime host = QDateTime::currentDateTime();
    const QDate date(r.date.year, r.date.month, r.date.day);
    const QTime time(r.time.hours, r.time.minutes, r.time.seconds);
    if (r.hasTime && r.hasDate && date.isValid() && time.isValid()) {
        const QDateTime device(date, time);  // the device keeps local time
        m_result.deviceTime = device.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        // Both as local wall clocks, so a zone's offset never counts.
        const QTime hostTime = host.time().addMSecs(-host.time().msec());
        const long long offset = QDateTime(host.date(), hostTime, Qt::UTC).secsTo(QDateTime(date, time, Qt::UTC));
        m_result.clockOffsetS = offset;
        if (m_station.setClock && std::llabs(offset) > m_station.clockToleranceS) {
            m_phase(QStringLiteral("установка часов"));
            const QDateTime now = QDateTime::currentDateTime();
            m_session->setClock({now.time().hour(), now.time().minute(), now.time().second()},
                                {now.date().year(), now.date().month(), now.date().day()});
            return;  // the journal follows clockSet
        }
    }
    readJournal();
}

void StationCall::readJournal()
{
    m_phase(QStringLiteral("чтение журнала"));
    m_session->readJournalFromCursor(m_known ? m_known(m_result.deviceNumber) : journal::JournalCursor{});
}

void StationCall::readSetpoints()
{
    m_phase(QStringLiteral("чтение уставок"));
    m_session->readSetpoints();
}

void StationCall::compareProfile()
{
    if (m_station.profile.empty()) return;
    const setpoints::SetpointFileResult file = setpoints::readSetpointFile(m_station.profile);
    if (!file.ok) {
        m_result.profileProblem = m_station.profile + ": " + file.error;
        return;
    }
    m_result.hasProfile = true;
    const auto which = setpointRegisters();
    const RegisterImage& image = m_session->image();
    for (int r = 0; r < setpoints::kSetpointRegisters; ++r)
        if (which[std::size_t(r)] && file.set.holding[std::size_t(r)] != image.holding(uint16_t(r)))
            m_result.setpointDifferences.push_back(r);
}

void StationCall::hangUp(Outcome outcome, const std::string& why)
{
    if (m_hangingUp || m_finished) return;
    m_hangingUp = true;
    m_result.outcome = outcome;
    m_result.why = why;
    if (m_session->state() == LinkState::Disconnected) return done();
    // A failed connection closes itself; its Disconnected state ends the call.
    if (outcome == Outcome::PortUnavailable || outcome == Outcome::NoDevice || outcome == Outcome::TablesUnread) return;
    m_phase(m_station.phone.empty() ? QStringLiteral("закрытие порта") : QStringLiteral("отбой"));
    m_session->disconnectDevice();
}

void StationCall::done()
{
    if (m_finished) return;
    m_finished = true;
    m_result.seconds = double(QDateTime::currentMSecsSinceEpoch() - m_startedMs) / 1000.0;
    emit finished();
}

}  // namespace zrv::collect

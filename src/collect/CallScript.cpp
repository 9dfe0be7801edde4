#include "CallScript.h"

#include "clock/DeviceClock.h"
#include "journal/Readlog.h"
#include "journal/ReportBuilder.h"
#include "setpoints/SetpointChecks.h"

#include <QDateTime>
#include <QUuid>

#include <cstdlib>

namespace zrv::collect {

namespace {

// The device keeps local time; both clocks are taken as local wall clocks,
// so a zone's offset never counts.
void takeClock(const clock::ClockReading& r, const QDateTime& host, CallResult& out)
{
    const QDate date(r.date.year, r.date.month, r.date.day);
    const QTime time(r.time.hours, r.time.minutes, r.time.seconds);
    if (!r.hasTime || !r.hasDate || !date.isValid() || !time.isValid()) return;
    out.deviceTime = QDateTime(date, time).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const QTime hostTime = host.time().addMSecs(-host.time().msec());
    out.clockOffsetS = QDateTime(host.date(), hostTime, Qt::UTC).secsTo(QDateTime(date, time, Qt::UTC));
}

void countTransaction(const TransactionRecord& t, CallResult& r)
{
    switch (t.outcome) {
    case TransactOutcome::Ok: break;
    case TransactOutcome::Timeout: ++r.timeouts; break;
    case TransactOutcome::CrcError: ++r.crcErrors; break;
    case TransactOutcome::Exception: ++r.exceptions; break;
    default: ++r.otherFailures; break;
    }
}

// The journal records new since the cursor, then the gaps earlier calls
// left. False when the reading was cut short.
bool readJournal(CallLine& line, const CallPlan& plan, const CallProgress& progress, CallResult& r)
{
    progress(QStringLiteral("чтение журнала"));
    JournalSink sink;
    sink.progress = [&](uint16_t words, int32_t records) {
        progress(QStringLiteral("чтение журнала: %1 слов, %2 записей").arg(words).arg(records));
    };
    sink.record = [&](const journal::RecordKey& key, const journal::DecodedRecord& d, const std::string& piece) {
        r.records.push_back({key, journal::stampOf(d), d.p1, d.p2, d.t, d.q, int(d.entries.size()), piece});
    };
    const auto known = plan.known.find(r.deviceNumber);
    TReadLog reader(line.link(), line.stopFlag(), sink, line.refreshHooks());
    reader.findNewest();
    reader.ExecuteFromCursor(known == plan.known.end() ? journal::JournalCursor{} : known->second);
    r.cursor = reader.cursorReading().after;
    r.recordsLost = reader.cursorReading().recordsLost;
    r.journalCutShort = reader.result().cutShort || reader.cursorReading().cutShort;
    if (r.journalCutShort) r.why = "чтение журнала прервано: " + reader.failureText();
    return !r.journalCutShort;
}

void compareProfile(const Station& station, const setpoints::SetpointSet& device, CallResult& r)
{
    if (station.profile.empty()) return;
    const setpoints::SetpointFileResult file = setpoints::readSetpointFile(station.profile);
    if (!file.ok) {
        r.profileProblem = station.profile + ": " + file.error;
        return;
    }
    r.hasProfile = true;
    r.setpointDifferences = setpoints::profileDifferences(file.set, device);
}

// From the port opened to the setpoints read: the outcome, with r.why set
// where it failed. The caller hangs up.
Outcome callOnLine(CallLine& line, const CallPlan& plan, const CallProgress& progress, CallResult& r)
{
    const Station& station = plan.station;
    const auto stopped = [&] {
        r.why = "сбор остановлен";
        return Outcome::Stopped;
    };
    if (!station.phone.empty()) {
        progress(QStringLiteral("набор номера %1").arg(QString::fromStdString(station.phone)));
        std::string state;
        if (!line.dial(station.phone, &state)) {
            if (line.stopRequested()) return stopped();
            r.why = state;
            return Outcome::DialFailed;
        }
        progress(QStringLiteral("соединено, поиск прибора"));
    }
    switch (line.detect()) {
    case Detection::Found: break;
    case Detection::Stopped: return stopped();
    case Detection::NoDevice: r.why = "нет ответа на запросы"; return Outcome::NoDevice;
    case Detection::TablesUnread: r.why = "таблицы прибора не прочитаны"; return Outcome::TablesUnread;
    case Detection::PortUnavailable: return Outcome::PortUnavailable;  // the port is open by now
    }
    r.deviceNumber = journal::reportDeviceNumber(line.image());
    progress(QStringLiteral("ZRV-%1 найден, опрос").arg(r.deviceNumber));
    const PollSnapshot polled = line.poll();
    if (line.stopRequested()) return stopped();
    r.measurements = polled.measurements;
    r.onBattery = !polled.mainsPower;

    progress(QStringLiteral("часы прибора"));
    // The device read its clock while the request was on the line: the
    // host's clock is taken halfway, so that a second that turns during the
    // exchange does not count as an offset.
    const QDateTime asked = QDateTime::currentDateTime();
    const clock::ClockReading clock = clock::readDeviceClock(line.link(), true, true);
    takeClock(clock, asked.addMSecs(asked.msecsTo(QDateTime::currentDateTime()) / 2), r);
    if (line.stopRequested()) return stopped();
    if (station.setClock && r.clockOffsetS && std::llabs(*r.clockOffsetS) > station.clockToleranceS) {
        progress(QStringLiteral("установка часов"));
        const QDateTime now = QDateTime::currentDateTime();
        r.clockSet = clock::setDeviceClock(line.link(), {now.time().hour(), now.time().minute(), now.time().second()},
                                           {now.date().year(), now.date().month(), now.date().day()});
        if (line.stopRequested()) return stopped();
    }

    const bool whole = readJournal(line, plan, progress, r);
    if (line.stopRequested()) return stopped();
    if (!whole) return Outcome::Incomplete;

    progress(QStringLiteral("чтение уставок"));
    const bool read = setpoints::readHoldingBlock(line.link(), [&] { return line.stopRequested(); });
    if (line.stopRequested()) return stopped();
    if (!read) {
        r.why = "уставки не прочитаны";
        return Outcome::Incomplete;
    }
    const RegisterImage& image = line.image();
    r.limits = CallResult::Limits{image.holdingF32(reg::kP2Max), image.holdingF32(reg::kP2Min),
                                  image.holdingF32(reg::kP1Max), image.holdingF32(reg::kP1Min)};
    compareProfile(station, line.setpoints(), r);
    return Outcome::Ok;
}

}  // namespace

CallResult runStationCall(CallLine& line, const CallPlan& plan, const CallProgress& progress)
{
    const Station& station = plan.station;
    CallResult r;
    r.callId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.station = station.name;
    r.port = station.port;
    r.attempt = plan.attempt;
    r.started = QDateTime::currentDateTimeUtc();
    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();
    line.onTransaction([&r](const TransactionRecord& t) { countTransaction(t, r); });

    const bool viaModem = !station.phone.empty();
    progress(viaModem ? QStringLiteral("открытие порта модема") : QStringLiteral("открытие порта"));
    std::string why;
    if (!line.open(station.port, &why)) {
        r.outcome = Outcome::PortUnavailable;
        r.why = why;
    } else {
        r.outcome = callOnLine(line, plan, progress, r);
        // A connection that failed closed itself; everything else is hung up.
        if (r.outcome != Outcome::NoDevice && r.outcome != Outcome::TablesUnread) {
            progress(viaModem ? QStringLiteral("отбой") : QStringLiteral("закрытие порта"));
            line.hangUp(viaModem);
        }
    }
    line.onTransaction(nullptr);
    r.transactionsOk = line.link().counters().successes.load(std::memory_order_relaxed);
    r.transactionsFailed = line.link().counters().failures.load(std::memory_order_relaxed);
    r.seconds = double(QDateTime::currentMSecsSinceEpoch() - startedMs) / 1000.0;
    return r;
}

}  // namespace zrv::collect

// A month on the line in simulated time: a session on the in-memory line,
// polled once a simulated second for 30 days, with faults (a silent device
// for minutes, spoilt replies, the line gone for a while every few hours)
// and a journal that keeps filling and wraps, read hourly with the
// new-records reading. Prints the records the device wrote against those
// read ("missing" and "doubled" must both be 0), the counters against the
// faults, the resident memory at day 1 and day 30, and the wall time.
//   bench_soak [DAYS]

#include "session/Session.h"
#include "support/MemoryDevice.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"

#include <QCoreApplication>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <algorithm>
#include <map>
#include <vector>

using namespace std::chrono;
using zrv::journal::RecordKey;

namespace {

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A record's key in one word, so that the bench's own bookkeeping is
// reserved once and does not count as the terminal's growth.
uint64_t packed(uint16_t start, const std::array<uint16_t, 3>& stamp)
{
    return uint64_t(start) << 48 | uint64_t(stamp[0]) << 32 | uint64_t(stamp[1]) << 16 | stamp[2];
}

// As settle() does, without its naps: the I/O thread never waits on this
// one, so blocking until it is idle is safe here and costs no sleep.
void drain(zrv::Session& session)
{
    for (;;) {
        zrv::SessionProbe::waitUntilIdle(session);
        QCoreApplication::processEvents();
        if (zrv::SessionProbe::idle(session)) return;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    zrvtest::MemoryDevice device;
    device.useLineTime();
    std::vector<uint64_t> written, read;
    written.reserve(std::size_t(days) * 2000 + 1000);
    read.reserve(written.capacity());
    device.with([&](zrvsim::DeviceModel& d, auto&, auto&) {
        d.clearJournal();
        d.valveDelay = milliseconds(0);
        d.holdings[zrv::reg::kLogPeriod] = 60;  // a record a minute when the values move
        d.holdings[zrv::reg::kLogTolerance] = 1;
        d.recordWritten = [&written](uint16_t start, const std::array<uint16_t, 3>& stamp) {
            written.push_back(packed(start, stamp));
        };
        return 0;
    });

    zrv::Session session;
    session.setLineOpener(device.opener());
    zrv::SessionProbe::setPollsItself(session, false);

    zrv::journal::RecordKeys known;
    zrv::journal::RecordKeys lastKeys;
    bool cut = false;
    int readings = 0, cutReadings = 0;
    std::map<zrv::TransactOutcome, long> outcomes;
    QObject::connect(&session, &zrv::Session::transaction,
                     [&](const zrv::TransactionRecord& r) { ++outcomes[r.outcome]; });

    // The hourly reading, from the newest record already held; a reading
    // cut short marks no place, and the next one reads those records again.
    const auto readJournal = [&] {
        cut = false;
        lastKeys.clear();
        QObject::connect(session.ask(zrv::journal::Read{known}), &zrv::JournalReply::finished, [&](const zrv::JournalEnd& end) {
            lastKeys = end.keys;
            cut = !end.cutShort.isEmpty();
        });
        drain(session);
        ++readings;
        if (cut) {
            ++cutReadings;
            return;
        }
        for (const RecordKey& k : lastKeys) read.push_back(packed(k.start, k.stamp));
        known = zrv::journal::mergeRecordKeys(lastKeys, known, zrv::journal::kKeysKept);
    };
    const auto line = [&](auto f) { return device.with([&](auto&, zrvsim::ModbusSlave& s, zrvtest::MemoryLine& l) { return f(s, l); }); };
    session.ask(zrv::Connect{"COM1", false});
    drain(session);
    if (stateName(session.state()) != QLatin1String("Monitoring")) {
        std::puts("bench_soak: the simulated device was not found");
        return 1;
    }

    long silentMinutes = 0, spoiltSteps = 0, lostLines = 0;
    long day1KiB = 0;
    const auto wallStart = steady_clock::now();
    const long seconds = long(days) * 86400;
    milliseconds stepStart = line([](auto&, zrvtest::MemoryLine& l) { return l.now; });
    for (long t = 0; t < seconds; ++t) {
        // The faults, by the simulated second: 2 silent minutes every 6 hours,
        // a spoilt reply in one step of 1000, the line gone for 5 minutes
        // every 4 hours.
        const long inDay = t % 86400;
        const bool silent = inDay % 21600 >= 600 && inDay % 21600 < 720;
        const bool spoilt = t % 1000 == 500;
        const bool lost = t % 14400 >= 7200 && t % 14400 < 7500;
        silentMinutes += silent && t % 60 == 0;
        spoiltSteps += spoilt;
        lostLines += lost && t % 14400 == 7200;
        line([&](zrvsim::ModbusSlave& s, zrvtest::MemoryLine& l) {
            s.faults.silent = silent;
            s.faults.corruptCrc = spoilt;
            l.refuseWrites = lost;
            return 0;
        });

        if (t % 3600 == 1800) {
            // Every fifth hour the device falls silent in the middle of it.
            if (t % (5 * 3600) == 1800)
                line([](zrvsim::ModbusSlave& s, auto&) { return s.faults.silentFromRequest = s.requestsSeen + 12; });
            readJournal();
            line([](zrvsim::ModbusSlave& s, auto&) { return s.faults.silentFromRequest = 0; });
        } else {
            session.ask(zrv::Poll{});
            drain(session);
        }
        // The next step a second after this one began.
        line([&](auto&, zrvtest::MemoryLine& l) {
            if (l.now < stepStart + milliseconds(1000)) l.now = stepStart + milliseconds(1000);
            stepStart = l.now;
            return 0;
        });
        // The in-memory line keeps every frame for tests to look at; that
        // record is the bench's, not the terminal's, and goes each hour.
        if (t % 3600 == 0) device.clearWritten();
        if (t + 1 == 86400) day1KiB = residentKiB();
    }
    // A last reading on a quiet line takes what the month left in the ring.
    line([](zrvsim::ModbusSlave& s, zrvtest::MemoryLine& l) {
        s.faults = zrvsim::FaultPlan{};
        l.refuseWrites = false;
        return 0;
    });
    readJournal();
    const double wall = duration<double>(steady_clock::now() - wallStart).count();

    std::sort(written.begin(), written.end());
    std::sort(read.begin(), read.end());
    long missing = 0, doubled = 0;
    for (std::size_t i = 1; i < read.size(); ++i) doubled += read[i] == read[i - 1];
    for (uint64_t k : written) missing += !std::binary_search(read.begin(), read.end(), k);
    const auto counters = std::make_pair(session.counters().successes.load(), session.counters().failures.load());
    std::printf("bench_soak: %d simulated days, %.0f s of wall time (%.0fx real time)\n", days, wall,
                double(seconds) / wall);
    std::printf("journal: %zu records written by the device, %zu read in %d readings (%d cut short and read again)\n",
                written.size(), read.size() - std::size_t(doubled), readings, cutReadings);
    std::printf("missing: %ld\n", missing);
    std::printf("doubled: %ld\n", doubled);
    std::printf("faults: %ld silent minutes, %ld spoilt steps, %ld lost-line spells of 5 min\n", silentMinutes,
                spoiltSteps, lostLines);
    std::printf("counters: %d ok, %d failed; no answer %ld, CRC %ld, port lost %ld\n", counters.first, counters.second,
                outcomes[zrv::TransactOutcome::Timeout], outcomes[zrv::TransactOutcome::CrcError],
                outcomes[zrv::TransactOutcome::PortLost]);
    const long lastKiB = residentKiB();
    std::printf("resident memory: %ld KiB at day 1, %ld KiB at the end (growth %ld KiB, limit 1024)\n", day1KiB,
                lastKiB, lastKiB - day1KiB);
    return missing == 0 && doubled == 0 ? 0 : 1;
}

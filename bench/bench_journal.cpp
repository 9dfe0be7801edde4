// The journal: reading a full ring (32255 registers) from a paced zrvsim
// against the wire-time limit, and building the report of a full ring against
// its 100 ms budget.

#include "SimServer.h"
#include "journal/JournalReading.h"
#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono;
using namespace zrv::journal;

namespace {

// One record of `words` registers from 512 (word 0 links to itself).
void fillOneRecord(zrvsim::DeviceModel& d, uint16_t words)
{
    d.clearJournal();
    std::vector<zrvsim::JournalEntry> entries((words - 12) / 3, {1, 0x4000 | 2, 7, 0});
    d.appendRecord(d.stampNow(), entries);
}

double buildFullRingReport()
{
    // Many small records fill the ring; decode and text them, no transport.
    zrvsim::DeviceModel d;
    d.preloadJournal(1500, 3);
    zrv::RegisterImage image;
    for (uint32_t a = 0; a < 65536; ++a) image.setInput(uint16_t(a), d.inputs[a]);
    ReportBuilder builder;
    JournalHooks h;
    std::size_t bytes = 0;
    h.readInputs = [](uint16_t, uint16_t) {};
    h.stopRequested = [] { return false; };
    h.showProgress = [](uint16_t, int32_t) {};
    h.append = [&bytes](const std::string& p) { bytes += p.size(); };
    const auto t0 = steady_clock::now();
    builder.header(image, 1);
    const uint16_t end = image.input(27);
    const int32_t records = readRecords(end, image.input(end), image, builder, h);
    const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    std::printf("report of %d records (%zu bytes): %.1f ms, budget 100 ms, ratio %.3f\n", records, bytes, ms,
                ms / 100.0);
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    buildFullRingReport();

    const uint16_t words = uint16_t(argc > 1 ? std::atoi(argv[1]) : 32255 - 2);
    zrvsim::SimOptions options;
    options.pace = true;
    zrvsim::SimServer sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    sim.withDevice([words](zrvsim::DeviceModel& d, auto&) {
        fillOneRecord(d, words);
        return 0;
    });
    auto line = zrv::PosixSerialLine::open(sim.devicePath(), &error);
    if (!line || !line->applyLineSettings()) return 1;
    zrv::RegisterImage image;
    zrv::ModbusLink link(image);
    link.setPort(std::move(line));
    link.transact(4, 27, 1);
    const uint16_t end = image.input(27);
    link.transact(4, end, 1);
    const uint16_t start = image.input(end);

    constexpr double kByte = 10.0 / 9600.0;
    double limit = 0;
    int requests = 0;
    JournalHooks h;
    h.readInputs = [&](uint16_t s, uint16_t c) {
        link.transact(4, s, c);
        // An exception reply (a count of 0) is 5 bytes; a read 5 + 2 * count.
        const double replyBytes = c == 0 ? 5 : 5 + 2.0 * c;
        limit += (8 + replyBytes) * kByte + duration<double>(options.replyDelay).count() +
                 duration<double>(zrv::ModbusLink::kReplySilence).count();
        ++requests;
    };
    h.stopRequested = [] { return false; };
    h.showProgress = [](uint16_t, int32_t) {};
    h.append = [](const std::string&) {};
    ReportBuilder builder;
    const auto t0 = steady_clock::now();
    readRecords(end, start, image, builder, h);
    const double took = duration<double>(steady_clock::now() - t0).count();
    std::printf("journal of %u registers at 9600 baud: %d requests, %.1f s, wire limit %.1f s, ratio %.3f "
                "(target <= 1.03)\n",
                unsigned(end >= start ? end - start : 0), requests, took, limit, took / limit);
    return 0;
}

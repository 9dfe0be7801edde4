// The journal: reading a full ring (32255 registers) from a paced zrvsim
// against the wire-time limit, and building the report of a full ring against
// its 100 ms budget.

#include "SimServer.h"
#include "journal/JournalReading.h"
#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"
#include "journal/Readlog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// The device's input registers as an image.
std::unique_ptr<zrv::RegisterImage> ringImage(const zrvsim::DeviceModel& d)
{
    auto image = std::make_unique<zrv::RegisterImage>();
    for (uint32_t a = 0; a < 65536; ++a) image->setInput(uint16_t(a), d.inputs[a]);
    return image;
}

// Decodes and texts the whole ring straight from the image, no transport;
// returns the records and adds the report's size in bytes.
ReadingResult readRingDirectly(const zrv::RegisterImage& image, std::size_t* bytes)
{
    ReportBuilder builder;
    JournalHooks h;
    h.readInputs = [](uint16_t, uint16_t) { return true; };
    h.stopRequested = [] { return false; };
    h.showProgress = [](uint16_t, int32_t) {};
    h.append = [bytes](const std::string& p) { *bytes += p.size(); };
    *bytes += builder.header(image, 1).size();
    ReadingResult r;
    const uint16_t end = image.input(27);
    readRecords(end, image.input(end), image, builder, h, nullptr, &r);
    return r;
}

double buildFullRingReport()
{
    // Many small records fill the ring; decode and text them, no transport.
    zrvsim::DeviceModel d;
    d.preloadJournal(1500, 3);
    const auto image = ringImage(d);
    std::size_t bytes = 0;
    const auto t0 = steady_clock::now();
    const int32_t records = readRingDirectly(*image, &bytes).recordsRead;
    const double ms = duration<double, std::milli>(steady_clock::now() - t0).count();
    std::printf("report of %d records (%zu bytes): %.1f ms, budget 100 ms, ratio %.3f\n", records, bytes, ms,
                ms / 100.0);
    return ms;
}

// "Считать новые записи" over a paced line: a full ring of which the last
// report holds all but the 10 newest records.
void newRecordsOfAFullRing()
{
    zrvsim::SimOptions options;
    options.pace = true;
    zrvsim::SimServer sim(options);
    std::string error;
    if (!sim.start(&error)) return;
    RecordKeys known;
    sim.withDevice([&known](zrvsim::DeviceModel& d, auto&) {
        d.preloadJournal(1500, 3);
        // The earlier report, taken straight from the ring.
        std::size_t bytes = 0;
        known = mergeRecordKeys(readRingDirectly(*ringImage(d), &bytes).keys, {}, kKeysKept);
        for (int i = 0; i < 10; ++i) d.appendRecord(d.stampNow(), {{1, 0x4000, 5, 0}, {2, 0x0000, 2, 0}});
        return 0;
    });
    auto line = zrv::PosixSerialLine::open(sim.devicePath(), &error);
    if (!line || !line->applyLineSettings()) return;
    zrv::RegisterImage image;
    zrv::ModbusLink link(image);
    link.setPort(std::move(line));
    int total = 0, inRing = 0;
    link.setTraceSink([&](const zrv::TransactionRecord& r) {
        ++total;
        inRing += r.function == 4 && r.start >= zrv::reg::kRingFirst;
    });
    std::atomic<bool> stop{false};
    zrv::JournalSink sink;
    sink.status = [](const std::string&) {};
    sink.piece = [](const std::string&) {};
    sink.progress = [](uint16_t, int32_t) {};
    for (bool fast : {false, true}) {
        link.setFastFraming(fast);
        total = inRing = 0;
        zrv::TReadLog reader(link, stop, sink, {});
        const auto t0 = steady_clock::now();
        reader.findNewest();
        const auto ringStart = steady_clock::now();
        const int findRing = inRing;
        const std::string summary = reader.Execute(&known);
        const auto t1 = steady_clock::now();
        std::printf("\"Считать новые записи\", full ring with 10 new records%s: %d new read, %s\n",
                    fast ? ", reply-length framing" : "", reader.result().recordsRead,
                    reader.result().reachedKnown ? "stopped at the record held" : "DID NOT FIND the record held");
        std::printf("  %d requests in the ring after finding the newest (target <= 11), %d in all with finding "
                    "(%d) and the refresh of all tables\n",
                    inRing - findRing, total, findRing);
        std::printf("  %.2f s in all, %.2f s for the records (target < 5 s at 9600 baud)\n",
                    duration<double>(t1 - t0).count(), duration<double>(t1 - ringStart).count());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    buildFullRingReport();
    newRecordsOfAFullRing();

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
        const bool ok = link.transact(4, s, c).ok();
        // An exception reply (a count of 0) is 5 bytes; a read 5 + 2 * count.
        const double replyBytes = c == 0 ? 5 : 5 + 2.0 * c;
        limit += (8 + replyBytes) * kByte + duration<double>(options.replyDelay).count() +
                 duration<double>(zrv::ModbusLink::kReplySilence).count();
        ++requests;
        return ok || c == 0;
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

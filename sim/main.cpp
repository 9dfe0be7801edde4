// zrvsim: the ZRV regulator on a pseudo-terminal, for running and testing the
// terminal without hardware.

#include "SimServer.h"
#include "text/Version.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

void usage()
{
    std::cout << "usage: zrvsim [--com N] [--tcp PORT] [--slave A] [--pace] [--journal RECORDS] [--seed S]\n"
                 "              [--reply-delay MS] [--valve-delay MS] [--stuck-valves]\n"
                 "              [--max-coils N] [--battery] [--silent] [--answer-from N] [--silent-from N]\n"
                 "  --com N          link COMN in the ports directory to the simulated device\n"
                 "  --tcp PORT       serve on TCP 127.0.0.1:PORT like a serial device server\n"
                 "                   (with --com N, COMN becomes the entry file \"tcp 127.0.0.1 PORT\")\n"
                 "  --slave A        MODBUS address, 1..247 (default 1)\n"
                 "  --pace           send replies at 9600 baud, as a real line does\n"
                 "  --modem          a Hayes modem in front of the device (ATDP...; numbers\n"
                 "                   ending in 1 BUSY, 2 NO CARRIER, 3 NO DIALTONE, 4 no answer)\n"
                 "  --no-echo        the modem does not echo commands\n"
                 "  --journal R      preload R journal records\n"
                 "  --seed S         the seed of the preloaded records (default 1)\n"
                 "  --journal-case C a journal for the reader's edges: wrap, block125, short,\n"
                 "                   loop or outside\n"
                 "  --reply-delay MS the device's turnaround before a reply (default 3)\n"
                 "  --valve-delay MS time the valves take to follow a command (default 300)\n"
                 "  --stuck-valves   valves never follow their commands\n"
                 "  --max-coils N    refuse coil reads of more than N points\n"
                 "  --battery        report battery power instead of mains\n"
                 "  --silent         answer nothing\n"
                 "  --answer-from N  ignore the first N-1 requests\n"
                 "  --silent-from N  answer nothing from the Nth request on (a line that dies)\n"
                 "  --fleet N        N devices on TCP ports PORT..PORT+N-1 (with --tcp PORT), each\n"
                 "                   its own device number (127, 128, ...), journal and state;\n"
                 "                   with --modem, a pool of N devices behind the one modem: the\n"
                 "                   digits before the last choose one (modulo N), so 10, 20, 30\n"
                 "                   reach devices 1, 2, 3 (and 00 device 0)\n"
                 "  --journal-every S  each device writes a journal record every S seconds\n"
                 "  --connections FILE  a line per connection as it opens and closes (time, event,\n"
                 "                   device), appended: which calls reached which device when\n"
                 "  --record FILE    at the end, every request the device received, one frame\n"
                 "                   a line in hex, oldest first (what the master sent)\n"
                 "  --help, --version  this text, or the version, and end\n"
                 "It serves until Ctrl-C (or SIGTERM), then removes its COMn link. A COMn that\n"
                 "already names something else (your own adapter) is left alone: it refuses.\n";
}

bool number(const char* text, long lo, long hi, long* out)
{
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    zrvsim::SimOptions options;
    zrvsim::FaultPlan faults;
    long valveDelay = 300;
    bool stuck = false, battery = false;
    std::string journalCase;
    int fleet = 1;
    long journalEvery = 0;
    std::string recordPath;
    std::string connectionsPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long v = 0;
        const auto take = [&](long lo, long hi) {
            if (!number(next, lo, hi, &v)) {
                std::cerr << "zrvsim: " << a << " needs a number from " << lo << " to " << hi << "\n";
                std::exit(2);
            }
            ++i;
            return v;
        };
        if (a == "--com") options.comNumber = int(take(1, 32));
        else if (a == "--tcp") {
            options.tcp = true;
            options.tcpPort = int(take(1, 65535));
        }
        else if (a == "--slave") options.slave = uint8_t(take(1, 247));
        else if (a == "--pace") options.pace = true;
        else if (a == "--modem") options.modem = true;
        else if (a == "--no-echo") options.modemEcho = false;
        else if (a == "--journal") options.journalRecords = int(take(0, 100000));
        else if (a == "--seed") options.seed = unsigned(take(0, 1000000000));
        else if (a == "--journal-case" && next) journalCase = argv[++i];
        else if (a == "--reply-delay") options.replyDelay = std::chrono::milliseconds(take(0, 10000));
        else if (a == "--valve-delay") valveDelay = take(0, 100000);
        else if (a == "--stuck-valves") stuck = true;
        else if (a == "--max-coils") faults.maxCoilRead = int(take(1, 2000));
        else if (a == "--battery") battery = true;
        else if (a == "--silent") faults.silent = true;
        else if (a == "--answer-from") faults.answerFromRequest = int(take(1, 1000000));
        else if (a == "--silent-from") faults.silentFromRequest = int(take(1, 1000000));
        else if (a == "--fleet") fleet = int(take(1, 500));
        else if (a == "--journal-every") journalEvery = take(1, 86400);
        else if (a == "--record" && next) recordPath = argv[++i];
        else if (a == "--connections" && next) connectionsPath = argv[++i];
        else if (a == "--help" || a == "-h") { usage(); return 0; }
        else if (a == "--version") { std::cout << "zrvsim " << kZrvVersion << "\n"; return 0; }
        else { std::cerr << "zrvsim: unknown option " << a << "\n"; usage(); return 2; }
    }

    // Signals are taken synchronously below, so that the link is removed.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    // Behind a modem, a fleet is a pool that one line dials into.
    if (fleet > 1 && options.modem) {
        options.modemPool = fleet;
        fleet = 1;
    }
    if (fleet > 1 && (!options.tcp || options.tcpPort == 0 || options.comNumber)) {
        std::cerr << "zrvsim: --fleet needs --tcp PORT (or --modem), and no --com\n";
        return 2;
    }
    if (fleet > 1 && options.tcpPort + fleet - 1 > 65535) {
        std::cerr << "zrvsim: --fleet: ports past 65535\n";
        return 2;
    }
    std::ofstream connections;
    std::mutex connectionsMutex;
    if (!connectionsPath.empty()) {
        connections.open(connectionsPath, std::ios::app);
        if (!connections) {
            std::cerr << "zrvsim: " << connectionsPath << ": could not be opened\n";
            return 2;
        }
    }
    std::vector<std::unique_ptr<zrvsim::SimServer>> servers;
    for (int i = 0; i < fleet; ++i) {
        zrvsim::SimOptions o = options;
        o.tcpPort = options.tcp ? options.tcpPort + i : 0;
        o.seed = options.seed + unsigned(i);
        servers.push_back(std::make_unique<zrvsim::SimServer>(o));
        zrvsim::SimServer& server = *servers.back();
        if (connections.is_open())
            server.onConnection = [&](const std::string& event, const std::string& device) {
                const auto now = std::chrono::system_clock::now();
                const std::time_t t = std::chrono::system_clock::to_time_t(now);
                const long ms = long(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
                std::tm utc{};
                gmtime_r(&t, &utc);
                char stamp[80];
                std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                              utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
                std::lock_guard<std::mutex> lock(connectionsMutex);
                connections << stamp << ' ' << event << ' ' << device << std::endl;
            };
        const bool journalOk = server.withDevice([&](zrvsim::DeviceModel& d, zrvsim::ModbusSlave& s) {
            d.valveDelay = std::chrono::milliseconds(valveDelay);
            d.valvesStuck = stuck;
            d.mainsPower = !battery;
            s.faults = faults;
            // Each station of a fleet is its own device: another weight on
            // valve 1 makes another device number.
            if (i > 0) {
                std::array<uint16_t, zrv::reg::kValveCount> w{};
                for (int v = 0; v < zrv::reg::kValveCount; ++v) w[std::size_t(v)] = d.holdings[std::size_t(96 + v)];
                w[0] = uint16_t(w[0] + i);
                d.setValveWeights(w);
            }
            return journalCase.empty() || d.prepareJournalCase(journalCase);
        });
        if (!journalOk) {
            std::cerr << "zrvsim: unknown journal case " << journalCase << "\n";
            return 2;
        }
        std::string error;
        if (!server.start(&error)) {
            std::cerr << "zrvsim: " << error << "\n";
            return 1;
        }
        const unsigned number = server.withDevice([](zrvsim::DeviceModel& d, auto&) {
            unsigned n = 0;
            for (int v = 0; v < zrv::reg::kValveCount; ++v) n += d.holdings[std::size_t(96 + v)] & 0xFF;
            return n;
        });
        std::cout << "zrvsim: ZRV-" << number << ", slave " << int(options.slave) << ", on " << server.devicePath();
        if (!server.linkPath().empty()) std::cout << " (COM" << options.comNumber << ": " << server.linkPath() << ")";
        std::cout << (options.pace ? ", 9600-baud pacing" : "") << std::endl;
    }

    int sig = 0;
    for (;;) {
        if (journalEvery == 0) {
            sigwait(&set, &sig);
            break;
        }
        const timespec wait{journalEvery, 0};
        sig = sigtimedwait(&set, nullptr, &wait);
        if (sig > 0) break;
        for (auto& server : servers)
            for (int i = 0; i < std::max(1, options.modemPool); ++i)
                server->withPoolDevice(i, [](zrvsim::DeviceModel& d, auto&) {
                    d.appendRecord(d.stampNow(), {{0, 0x8000 | 0x4000 | 2, 0, 0}});
                    return 0;
                });
    }
    for (auto& server : servers) server->stop();
    if (!recordPath.empty()) {
        std::ofstream record(recordPath, std::ios::trunc);
        for (auto& server : servers)
            for (const zrvsim::SeenRequest& r : server->requests()) {
                static const char digits[] = "0123456789abcdef";
                std::string line;
                for (const uint8_t b : r.frame) line += {digits[b >> 4], digits[b & 15], ' '};
                if (!line.empty()) line.pop_back();
                record << line << '\n';
            }
        if (!record) std::cerr << "zrvsim: " << recordPath << ": could not be written\n";
    }
    std::cout << "zrvsim: stopped" << std::endl;
    return 0;
}

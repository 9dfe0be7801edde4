// A collector's round over 24 stations on 4 ports, each a simulated device
// paced at 9600 baud: the round's time against its slowest port's wire time
// (every byte both ways at 1.04 ms, plus the device's turnaround per
// request), the speed-up against the same 24 stations on one port, and the
// collector's peak resident memory. zrvcollect runs as a process of its own,
// so its memory is its own.

#include "SimServer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

Run collect(const std::string& roster, const std::string& dir)
{
    const std::string db = "sqlite:" + dir + "/zrv.db";
    const std::string state = dir + "/state";
    std::vector<std::string> args = {ZRVCOLLECT_PROGRAM, "--roster", roster, "--store", db, "--state-dir", state,
                                     "--jobs", "8"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, (dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const auto start = Clock::now();
    Run r;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) return r;
    int status = 0;
    rusage use{};
    ::wait4(pid, &status, 0, &use);
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.peakKiB = use.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&fa);
    return r;
}

std::unique_ptr<zrvsim::SimServer> pacedDevice(int journal, unsigned seed)
{
    zrvsim::SimOptions o;
    o.tcp = true;
    o.pace = true;
    o.journalRecords = journal;
    o.seed = seed;
    auto sim = std::make_unique<zrvsim::SimServer>(o);
    sim->withDevice([](zrvsim::DeviceModel& d, auto&) {
        d.holdings[zrv::reg::kLogPeriod] = 0;  // no records of its own during the bench
        return 0;
    });
    std::string error;
    if (!sim->start(&error)) {
        std::fprintf(stderr, "bench_collect: %s\n", error.c_str());
        std::exit(1);
    }
    return sim;
}

// What the line itself needs: every byte both ways, and the device's
// turnaround before each reply.
double wireSeconds(zrvsim::SimServer& s)
{
    const double bytes = double(s.lineBytes().size() + s.bytesSent());
    const double perByte = std::chrono::duration<double>(zrvsim::SimServer::kByteTime).count();
    return bytes * perByte + double(s.requests().size()) * 0.003;
}

std::string writeRoster(const std::string& path, const std::vector<std::unique_ptr<zrvsim::SimServer>>& ports, int stations)
{
    std::ofstream f(path);
    for (int i = 0; i < stations; ++i)
        f << "[[station]]\nname = \"ГРП-" << i + 1 << "\"\nport = \"tcp 127.0.0.1 "
          << ports[std::size_t(i) % ports.size()]->tcpPort() << "\"\nretries = 0\n";
    return path;
}

}  // namespace

int main()
{
    constexpr int kStations = 24, kPorts = 4, kJournal = 20;
    const std::string dir = std::filesystem::temp_directory_path() / ("bench_collect-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir + "/four");
    std::filesystem::create_directories(dir + "/one");

    std::vector<std::unique_ptr<zrvsim::SimServer>> four;
    for (int p = 0; p < kPorts; ++p) four.push_back(pacedDevice(kJournal, unsigned(p + 1)));
    const Run parallel = collect(writeRoster(dir + "/four.toml", four, kStations), dir + "/four");
    double slowest = 0;
    for (auto& s : four) slowest = std::max(slowest, wireSeconds(*s));

    std::vector<std::unique_ptr<zrvsim::SimServer>> one;
    one.push_back(pacedDevice(kJournal, 1));
    const Run serial = collect(writeRoster(dir + "/one.toml", one, kStations), dir + "/one");
    const double oneWire = wireSeconds(*one.front());

    std::printf("bench_collect: %d stations on %d ports, 9600 baud, %d journal records each\n", kStations, kPorts,
                kJournal);
    std::printf("  round: %.1f s (exit %d); slowest port's wire time %.1f s; ratio %.3f (target <= 1.10)\n",
                parallel.seconds, parallel.status, slowest, parallel.seconds / slowest);
    std::printf("  one port: %.1f s (exit %d), wire %.1f s, ratio %.3f; speed-up of 4 ports: %.2fx (ideal %.2fx)\n",
                serial.seconds, serial.status, oneWire, serial.seconds / oneWire, serial.seconds / parallel.seconds,
                oneWire / slowest);
    std::printf("  collector peak resident memory: %.1f MiB (4 ports), %.1f MiB (1 port)\n", parallel.peakKiB / 1024.0,
                serial.peakKiB / 1024.0);
    std::filesystem::remove_all(dir);
    return parallel.status == 0 && serial.status == 0 ? 0 : 1;
}

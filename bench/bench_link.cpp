// Reads 125 input registers from the simulated device at 9600 baud, many
// times, and sets the time per transaction against what the wire allows:
// request and reply bytes at 9600 baud, the device's turnaround and the 50 ms
// of silence that ends a reply; then the same with reply-length framing
// against its own limit (3.5 characters instead of the 50 ms). Also reports
// the CPU the master spends waiting.

#include "SimServer.h"
#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono;

namespace {
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    zrvsim::SimOptions options;
    options.pace = true;
    options.replyDelay = microseconds(3000);
    zrvsim::SimServer sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    auto line = zrv::PosixSerialLine::open(sim.devicePath(), &error);
    if (!line || !line->applyLineSettings()) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    zrv::RegisterImage image;
    zrv::ModbusLink link(image);
    link.setPort(std::move(line));

    int failures = 0;
    const double cpu0 = threadCpuSeconds();
    const auto t0 = steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        failures += !link.transact(4, 512, 125).ok();
    const double wall = duration<double>(steady_clock::now() - t0).count();
    const double cpu = threadCpuSeconds() - cpu0;

    const double byteTime = duration<double>(zrvsim::SimServer::kByteTime).count();
    const double limit = (8 + 255) * byteTime + duration<double>(options.replyDelay).count() +
                         duration<double>(zrv::ModbusLink::kReplySilence).count();
    const double per = wall / rounds;
    std::printf("read 125 input registers at 9600 baud, %d rounds, %d failed\n", rounds, failures);
    std::printf("  per transaction %.1f ms, wire limit %.1f ms, ratio %.3f (target <= 1.03)\n", per * 1e3,
                limit * 1e3, per / limit);
    std::printf("  master CPU during transactions: %.3f%% of one core (woken per paced byte)\n",
                100.0 * cpu / wall);

    // Reply-length framing ("Быстрый обмен"): the reply ends at its length
    // and 3.5 characters, so the wire limit loses the 50 ms and gains 3.5
    // characters.
    link.setFastFraming(true);
    int fastFailures = 0;
    const auto f0 = steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        fastFailures += !link.transact(4, 512, 125).ok();
    const double fastPer = duration<double>(steady_clock::now() - f0).count() / rounds;
    const double fastLimit = (8 + 255) * byteTime + duration<double>(options.replyDelay).count() + 3.5 * byteTime;
    std::printf("the same with reply-length framing, %d failed\n", fastFailures);
    std::printf("  per transaction %.1f ms, frame-length wire limit %.1f ms, ratio %.3f (target <= 1.03)\n",
                fastPer * 1e3, fastLimit * 1e3, fastPer / fastLimit);
    std::printf("  speed-up over the silence rule: %.2fx (%.1f ms saved per transaction)\n", per / fastPer,
                (per - fastPer) * 1e3);
    failures += fastFailures;
    link.setFastFraming(false);

    // A silent device: the master only waits out its 500 ms time-outs.
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.silent = true; });
    const double idleCpu0 = threadCpuSeconds();
    const auto idle0 = steady_clock::now();
    for (int i = 0; i < 4; ++i) link.transact(4, 512, 125);
    const double idleWall = duration<double>(steady_clock::now() - idle0).count();
    std::printf("  master CPU waiting on a silent device: %.3f%% of one core over %.1f s\n",
                100.0 * (threadCpuSeconds() - idleCpu0) / idleWall, idleWall);
    return failures == 0 ? 0 : 1;
}

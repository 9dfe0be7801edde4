#pragma once
// The device model served on a pseudo-terminal. The terminal opens the pty's
// slave end (directly, or through a COMn link in the ports directory) as if
// it were a serial port; this side frames requests by length and by line
// silence, answers them after the device's turnaround time and, when asked,
// paces its reply at 9600 baud as a real line would.

#include "DeviceModel.h"
#include "HayesModem.h"
#include "ModbusSlave.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zrvsim {

struct SimOptions {
    uint8_t slave = 1;
    bool pace = false;  // send at 9600 baud instead of at once
    std::chrono::microseconds replyDelay{3000};  // the device's turnaround
    int comNumber = 0;   // when 1..32, a COMn link in the ports directory
    int journalRecords = 0;
    unsigned seed = 1;
    bool modem = false;      // a Hayes modem stands in front of the device
    bool modemEcho = true;
    // Serve on a TCP port of 127.0.0.1 instead of a pseudo-terminal, as a
    // serial device server does (0: any free port, see tcpPort()). With a
    // COMn number the ports-directory entry is then a "tcp HOST PORT" file.
    bool tcp = false;
    int tcpPort = 0;
    // With the modem: a pool of this many devices behind it, the dialled
    // number choosing which one answers (see poolIndexFor). Each has its own
    // device number (127, 128, ...), journal and state.
    int modemPool = 0;
};

// Which pool device a dialled number reaches: the digits before the last
// (the last one picks the dial's result), as a number, modulo the pool.
int poolIndexFor(const std::string& number, int poolSize);

struct SeenRequest {
    Frame frame;
    Clock::time_point at;
};

class SimServer {
public:
    // One character (start, 8 data, stop) at 9600 baud.
    static constexpr Clock::duration kByteTime = std::chrono::nanoseconds(1041667);

    explicit SimServer(SimOptions options = {});
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Told on the serving thread of each connection as it opens and closes:
    // "open" or "close", and the device it reaches ("tcp PORT ZRV-N", or
    // "modem NUMBER ZRV-N"), so that a test can see two calls overlap on one
    // device. Set before start().
    std::function<void(const std::string& event, const std::string& device)> onConnection;

    bool start(std::string* error = nullptr);
    void stop();

    // The pty slave the terminal opens.
    const std::string& devicePath() const { return m_devicePath; }
    // The TCP port served on, with the tcp option.
    int tcpPort() const { return m_tcpPort; }
    // The COMn link (or entry file), when one was made.
    const std::string& linkPath() const { return m_linkPath; }

    // Runs f(device, slave) under the server's lock.
    template <typename F>
    auto withDevice(F&& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_device, m_slave);
    }

    // Runs f(device, slave) for pool device i (0-based) under the lock.
    template <typename F>
    auto withPoolDevice(int i, F&& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(i == m_active ? m_device : *m_pool[std::size_t(i)], m_slave);
    }

    // Runs f(modem) under the server's lock (modem mode only).
    template <typename F>
    auto withModem(F&& f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(m_modem);
    }
    // Every byte the terminal sent, with when it arrived.
    std::vector<std::pair<Clock::time_point, uint8_t>> lineBytes();

    // Bytes the device (or its modem) has put on the line.
    std::size_t bytesSent() const { return m_bytesOut.load(); }

    // Every well-formed frame the line carried to the device, in order.
    std::vector<SeenRequest> requests();
    void clearRequests();

private:
    void run();
    void serveFrame(const Frame& frame, Clock::time_point firstByte);
    bool waitUntil(Clock::time_point t);  // false when asked to stop
    void sendReply(const Frame& reply, Clock::time_point due);
    void sendNow(const std::string& bytes);
    ssize_t writeOut(const uint8_t* data, std::size_t length);
    bool startTcp(std::string* error);
    void acceptClient();
    void dropClient();
    // The device a connection reaches, as onConnection names it.
    std::string connectionDevice();
    bool placeComEntry(std::string* error);

    SimOptions m_options;
    DeviceModel m_device;
    ModbusSlave m_slave{m_device};
    std::mutex m_mutex;
    std::vector<SeenRequest> m_requests;
    HayesModem m_modem;
    // The pool's devices; the one that answers now lives in m_device (the
    // slave serves that one), its own slot holding what m_device held.
    std::vector<std::unique_ptr<DeviceModel>> m_pool;
    int m_active = 0;
    bool m_callUp = false;
    void choosePoolDevice();
    std::vector<std::pair<Clock::time_point, uint8_t>> m_lineBytes;

    int m_master = -1;  // the pty master, or the TCP client's socket (-1: none)
    int m_listen = -1;
    int m_tcpPort = 0;
    std::string m_entryText;  // what our COMn entry file holds, with the tcp option
    int m_slaveKeep = -1;  // keeps the slave end open so the master never sees a hang-up
    int m_wake[2] = {-1, -1};
    std::string m_devicePath;
    std::string m_linkPath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_bytesOut{0};
};

}  // namespace zrvsim

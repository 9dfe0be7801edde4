#include "SimServer.h"

#include "link/PortMap.h"
#include "link/RegisterMap.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>

namespace zrvsim {

namespace {
// Silence that ends a frame whose length the function code does not tell:
// 3.5 characters at 9600 baud is 3.65 ms; a little more for scheduling.
constexpr auto kFrameGap = std::chrono::milliseconds(5);
constexpr std::size_t kMaxFrame = 256;
}  // namespace

SimServer::SimServer(SimOptions options)
    : m_options(options), m_modem(HayesModem::Options{options.modemEcho, std::chrono::milliseconds(300),
                                                     std::chrono::milliseconds(1000)})
{
    m_slave.setAddress(options.slave);
    if (options.journalRecords > 0) m_device.preloadJournal(options.journalRecords, options.seed);
    for (int i = 0; options.modem && i < options.modemPool; ++i) {
        m_pool.push_back(std::make_unique<DeviceModel>());
        if (i == 0) continue;  // device 0 is m_device itself
        DeviceModel& d = *m_pool.back();
        if (options.journalRecords > 0) d.preloadJournal(options.journalRecords, options.seed + unsigned(i));
        std::array<uint16_t, zrv::reg::kValveCount> w{};
        for (int v = 0; v < zrv::reg::kValveCount; ++v) w[std::size_t(v)] = d.holdings[std::size_t(96 + v)];
        w[0] = uint16_t(w[0] + i);
        d.setValveWeights(w);
    }
}

int poolIndexFor(const std::string& number, int poolSize)
{
    if (poolSize <= 0) return 0;
    long long n = 0;
    for (std::size_t i = 0; i + 1 < number.size(); ++i)
        if (number[i] >= '0' && number[i] <= '9') n = (n * 10 + (number[i] - '0')) % poolSize;
    return int(n);
}

void SimServer::choosePoolDevice()
{
    const int want = poolIndexFor(m_modem.dialledNumber(), int(m_pool.size()));
    if (want == m_active) return;
    // The answering device's slot holds a spare: put the device back there
    // and take the chosen one out of its slot, leaving the spare behind.
    std::swap(m_device, *m_pool[std::size_t(m_active)]);
    std::swap(m_device, *m_pool[std::size_t(want)]);
    m_active = want;
}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::string* error)
{
    const auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
    if (m_options.tcp) {
        if (!startTcp(error)) return false;
    } else {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0) return fail("posix_openpt");
        if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return fail("unlockpt");
        char name[128] = {};
        if (::ptsname_r(m_master, name, sizeof name) != 0) return fail("ptsname");
        m_devicePath = name;
        m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slaveKeep < 0) return fail(m_devicePath);
        // Raw from the start: a cooked pty would echo the requests back.
        termios t{};
        ::tcgetattr(m_slaveKeep, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_slaveKeep, TCSANOW, &t);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    if (m_options.comNumber >= 1 && m_options.comNumber <= zrv::kComPortCount && !placeComEntry(error)) {
        stop();
        return false;
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

bool SimServer::startTcp(std::string* error)
{
    const auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listen < 0) return fail("socket");
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(m_options.tcpPort));
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return fail("127.0.0.1:" + std::to_string(m_options.tcpPort));
    if (::listen(m_listen, 4) != 0) return fail("listen");
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_tcpPort = ntohs(a.sin_port);
    m_devicePath = "tcp 127.0.0.1 " + std::to_string(m_tcpPort);
    return true;
}

bool SimServer::placeComEntry(std::string* error)
{
    namespace fs = std::filesystem;
    const fs::path dir = zrv::portsDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path link = dir / ("COM" + std::to_string(m_options.comNumber));
    // The name may be the user's own mapping of a real adapter, or another
    // simulator's: never take it. Only a link left dangling into /dev/pts by
    // a simulator that died goes.
    const fs::file_status status = fs::symlink_status(link, ec);
    if (fs::exists(status)) {
        const fs::path target = fs::is_symlink(status) ? fs::read_symlink(link, ec) : fs::path();
        const bool stale = !target.empty() && target.string().rfind("/dev/pts/", 0) == 0 && !fs::exists(target, ec);
        if (!stale) {
            if (error)
                *error = link.string() + " already names " +
                         (target.empty() ? std::string("a file") : target.string()) +
                         "; it is left alone (choose another --com number, or remove it first)";
            return false;
        }
        fs::remove(link, ec);
    }
    ec.clear();
    if (m_options.tcp) {
        m_entryText = m_devicePath + "\n";
        std::ofstream out(link, std::ios::binary | std::ios::trunc);
        out << m_entryText;
        if (!out.flush()) {
            if (error) *error = link.string() + ": cannot be written";
            return false;
        }
    } else {
        fs::create_symlink(m_devicePath, link, ec);
        if (ec) {
            if (error) *error = link.string() + ": " + ec.message();
            return false;
        }
    }
    m_linkPath = link.string();
    return true;
}

void SimServer::stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const char c = 'x';
        [[maybe_unused]] auto n = ::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    if (!m_linkPath.empty()) {
        std::error_code ec;
        // Only our own link goes; another simulator may have taken the name.
        if (m_options.tcp) {
            std::string text;
            if (zrv::readPortEntryFile(m_linkPath, &text) && text == m_entryText)
                std::filesystem::remove(m_linkPath, ec);
        } else if (std::filesystem::read_symlink(m_linkPath, ec) == m_devicePath) {
            std::filesystem::remove(m_linkPath, ec);
        }
        m_linkPath.clear();
    }
    for (int* fd : {&m_master, &m_listen, &m_slaveKeep, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::vector<SeenRequest> SimServer::requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void SimServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_lineBytes.clear();
}

std::vector<std::pair<Clock::time_point, uint8_t>> SimServer::lineBytes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lineBytes;
}

ssize_t SimServer::writeOut(const uint8_t* data, std::size_t length)
{
    if (m_master < 0) return -1;
    const ssize_t n = m_options.tcp ? ::send(m_master, data, length, MSG_NOSIGNAL) : ::write(m_master, data, length);
    if (n > 0) m_bytesOut += std::size_t(n);
    return n;
}

void SimServer::sendNow(const std::string& bytes)
{
    if (!bytes.empty()) writeOut(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void SimServer::acceptClient()
{
    const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // A serial device server serves one master: a new connection takes the
    // line over from an old one that may have gone without a word.
    dropClient();
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_master = fd;
    // Behind a modem the call, not the socket, is the connection.
    if (onConnection && !m_options.modem) onConnection("open", connectionDevice());
}

void SimServer::dropClient()
{
    if (m_options.tcp && m_master >= 0) {
        ::close(m_master);
        m_master = -1;
        if (onConnection && !m_options.modem) onConnection("close", connectionDevice());
    }
}

std::string SimServer::connectionDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    unsigned number = 0;
    for (int v = 0; v < zrv::reg::kValveCount; ++v) number += m_device.holdings[std::size_t(zrv::reg::kZrvFactor1 + v)] & 0xFF;
    const std::string device = " ZRV-" + std::to_string(number);
    if (m_options.modem) return "modem " + m_modem.dialledNumber() + device;
    if (m_options.tcp) return "tcp " + std::to_string(m_tcpPort) + device;
    return m_devicePath + device;
}

bool SimServer::waitUntil(Clock::time_point t)
{
    while (!m_stop) {
        const auto now = Clock::now();
        if (now >= t) return true;
        const auto ms = std::chrono::duration_cast<std::chrono::nanoseconds>(t - now).count();
        timespec ts{time_t(ms / 1000000000), long(ms % 1000000000)};
        pollfd p{m_wake[0], POLLIN, 0};
        ::ppoll(&p, 1, &ts, nullptr);
    }
    return false;
}

void SimServer::sendReply(const Frame& reply, Clock::time_point due)
{
    if (!m_options.pace) {
        if (!waitUntil(due)) return;
        writeOut(reply.data(), reply.size());
        return;
    }
    // Each byte leaves when its predecessor has finished on the wire.
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const auto byteDue = due + kByteTime * long(sent);
        if (!waitUntil(byteDue)) return;
        std::size_t upTo = sent + 1;
        const auto now = Clock::now();
        while (upTo < reply.size() && due + kByteTime * long(upTo) <= now) ++upTo;
        const ssize_t n = writeOut(reply.data() + sent, upTo - sent);
        if (n <= 0) return;
        sent += std::size_t(n);
    }
}

void SimServer::serveFrame(const Frame& frame, Clock::time_point firstByte)
{
    std::optional<Frame> reply;
    std::chrono::milliseconds extra{0};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (crcOk(frame)) m_requests.push_back({frame, firstByte});
        reply = m_slave.handle(frame, Clock::now());
        extra = m_slave.faults.extraDelay;
    }
    if (!reply) return;
    // The reply cannot start before the request has crossed the wire.
    auto due = Clock::now();
    if (m_options.pace) due = std::max(due, firstByte + kByteTime * long(frame.size()));
    sendReply(*reply, due + m_options.replyDelay + extra);
}

void SimServer::run()
{
    Frame buf;
    Clock::time_point firstByte{}, lastByte{};
    while (!m_stop) {
        Clock::time_point wake = Clock::now() + std::chrono::milliseconds(200);
        if (!buf.empty()) wake = std::min(wake, lastByte + kFrameGap);
        if (m_options.modem) {
            std::lock_guard<std::mutex> lock(m_mutex);
            wake = std::min(wake, m_modem.nextDeadline());
        }
        const auto left = wake - Clock::now();
        const int timeoutMs =
            int(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
        pollfd p[3] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        const int r = ::poll(p, 3, timeoutMs);
        if (m_stop) break;
        if (r > 0 && (p[2].revents & POLLIN)) {
            acceptClient();
            buf.clear();
            continue;
        }
        const short readable = m_options.tcp ? short(POLLIN | POLLHUP | POLLERR) : short(POLLIN);
        if (r > 0 && (p[0].revents & readable)) {
            uint8_t chunk[512];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (m_options.tcp && (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))) {
                dropClient();  // the master went; wait for the next one
                buf.clear();
                continue;
            }
            if (n > 0) {
                const auto now = Clock::now();
                std::string toDevice(reinterpret_cast<const char*>(chunk), std::size_t(n));
                std::string toTerminal;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    for (ssize_t i = 0; i < n; ++i) m_lineBytes.emplace_back(now, chunk[i]);
                    if (m_options.modem) toDevice = m_modem.input(toDevice, now, toTerminal);
                }
                sendNow(toTerminal);
                if (!toDevice.empty()) {
                    if (buf.empty()) firstByte = now;
                    lastByte = now;
                    buf.insert(buf.end(), toDevice.begin(), toDevice.end());
                }
            }
        }
        bool callChanged = false;
        {
            std::string toTerminal;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_device.advance(Clock::now());
            if (m_options.modem) m_modem.advance(Clock::now(), toTerminal);
            // A call that comes up reaches the pool device its number names.
            if (m_options.modem && !m_pool.empty() && m_modem.callUp() && !m_callUp) choosePoolDevice();
            const bool was = m_callUp;
            m_callUp = m_options.modem && m_modem.callUp();
            sendNow(toTerminal);
            callChanged = was != m_callUp;
        }
        if (callChanged && onConnection) onConnection(m_callUp ? "open" : "close", connectionDevice());
        // Complete frames by length first; a frame with a bad CRC loses its
        // first byte so that the next real frame is found.
        while (!buf.empty()) {
            const std::size_t need = ModbusSlave::expectedRequestLength(buf.data(), buf.size());
            if (need == 0 || buf.size() < need) break;
            Frame frame(buf.begin(), buf.begin() + long(need));
            if (crcOk(frame)) {
                buf.erase(buf.begin(), buf.begin() + long(need));
                serveFrame(frame, firstByte);
                firstByte = Clock::now();
            } else {
                buf.erase(buf.begin());
            }
        }
        // Whatever is left after a silence is one frame (or noise).
        if (!buf.empty() && (Clock::now() - lastByte >= kFrameGap || buf.size() > kMaxFrame)) {
            Frame frame;
            frame.swap(buf);
            if (frame.size() <= kMaxFrame) serveFrame(frame, firstByte);
        }
    }
}

}  // namespace zrvsim

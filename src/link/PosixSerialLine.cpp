#include "PosixSerialLine.h"

#include <linux/serial.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <thread>

namespace zrv {

using Clock = std::chrono::steady_clock;

namespace {

// ppoll with a time-out measured in steady-clock time; returns poll's result.
int pollFor(int fd, short events, Clock::duration timeout, short* revents)
{
    if (timeout < Clock::duration::zero()) timeout = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
    timespec ts{};
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    pollfd p{fd, events, 0};
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    *revents = p.revents;
    return r;
}

void setError(std::string* error, const std::string& text)
{
    if (error) *error = text;
}

}  // namespace

PosixSerialLine::PosixSerialLine(int fd, bool socket) : m_fd(fd), m_socket(socket) { m_lastCarrier = carrierState(); }

PosixSerialLine::~PosixSerialLine() { close(); }

std::unique_ptr<PosixSerialLine> PosixSerialLine::open(const std::string& path, std::string* error)
{
    if (path.empty()) {
        setError(error, "no device for this port name");
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, path + ": " + std::strerror(errno));
        return nullptr;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        setError(error, path + ": not a terminal device");
        return nullptr;
    }
    // flock is the convention other serial tools check; TIOCEXCL stops later
    // openers that are not root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        setError(error, path + ": " + (e == EWOULDBLOCK ? std::string("in use by another program")
                                                        : std::string(std::strerror(e))));
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);

    // USB adapters hold received bytes up to their latency timer; ask for
    // low latency where the driver allows it, and carry on where it does not.
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
    return std::unique_ptr<PosixSerialLine>(new PosixSerialLine(fd));
}

std::unique_ptr<PosixSerialLine> PosixSerialLine::connectTcp(const std::string& host, const std::string& port,
                                                             std::chrono::milliseconds timeout, std::string* error)
{
    const std::string where = host + ":" + port;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        setError(error, where + ": " + ::gai_strerror(rc));
        return nullptr;
    }
    std::string why = "no address";
    int fd = -1;
    const auto giveUp = Clock::now() + timeout;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            short revents = 0;
            r = pollFor(fd, POLLOUT, giveUp - Clock::now(), &revents) > 0 ? 0 : -1;
            int soError = ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (r == 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            errno = soError;
            r = soError == 0 ? 0 : -1;
        }
        if (r != 0) {
            why = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        setError(error, where + ": " + why);
        return nullptr;
    }
    // Each request goes out as one segment, at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::unique_ptr<PosixSerialLine>(new PosixSerialLine(fd, true));
}

std::unique_ptr<PosixSerialLine> PosixSerialLine::adopt(int fd)
{
    if (fd < 0) return nullptr;
    return std::unique_ptr<PosixSerialLine>(new PosixSerialLine(fd));
}

bool PosixSerialLine::applyLineSettings()
{
    if (m_fd < 0) return false;
    if (m_socket) return true;  // the server's own port carries the line settings
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0) return false;
    ::cfmakeraw(&t);  // no echo, no translation: zero bytes and CR stay data
    t.c_cflag &= ~tcflag_t(PARENB | CSTOPB | CSIZE | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    return ::tcsetattr(m_fd, TCSANOW, &t) == 0;
}

void PosixSerialLine::setModemLine(int bit)
{
    if (m_fd >= 0) ::ioctl(m_fd, TIOCMBIS, &bit);  // refused by a pty: no modem lines
}

void PosixSerialLine::raiseDtr() { setModemLine(TIOCM_DTR); }
void PosixSerialLine::raiseRts() { setModemLine(TIOCM_RTS); }

int PosixSerialLine::carrierState()
{
    int bits = 0;
    if (m_fd < 0 || m_socket || ::ioctl(m_fd, TIOCMGET, &bits) != 0) return -1;
    return (bits & TIOCM_CAR) ? 1 : 0;
}

void PosixSerialLine::purge()
{
    if (m_fd < 0) return;
    if (!m_socket) {
        ::tcflush(m_fd, TCIOFLUSH);
        return;
    }
    // A socket has no queue to flush: what has arrived is read and dropped.
    uint8_t sink[256];
    while (::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

bool PosixSerialLine::writeAll(const uint8_t* data, std::size_t length)
{
    if (m_fd < 0) return false;
    std::size_t sent = 0;
    // A tty without flow control always drains; the limit only guards against
    // a peer that vanished with its buffer full.
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (sent < length) {
        // A socket whose peer has gone must fail the write, not raise SIGPIPE.
        const ssize_t n = m_socket ? ::send(m_fd, data + sent, length - sent, MSG_NOSIGNAL)
                                   : ::write(m_fd, data + sent, length - sent);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        short revents = 0;
        if (Clock::now() >= giveUp) return false;
        pollFor(m_fd, POLLOUT, giveUp - Clock::now(), &revents);
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    // The reply time-out counts from the end of transmission, not from the
    // moment the bytes were queued in the driver.
    if (!m_socket) ::tcdrain(m_fd);
    return true;
}

std::size_t PosixSerialLine::readFor(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                                     std::chrono::milliseconds silence)
{
    return read(buf, capacity, total, silence, nullptr);
}

std::size_t PosixSerialLine::readFrame(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                                       std::chrono::milliseconds silence, const FrameEnd& end)
{
    return read(buf, capacity, total, silence, &end);
}

std::size_t PosixSerialLine::read(uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                                  std::chrono::milliseconds silence, const FrameEnd* end)
{
    if (m_fd < 0) return 0;
    const auto deadline = Clock::now() + total;
    Clock::time_point lastByte{};
    std::size_t got = 0;
    while (got < capacity) {
        const auto now = Clock::now();
        auto until = deadline;
        if (got > 0) {
            const Clock::duration quiet =
                (end && frameComplete(*end, buf, got)) ? Clock::duration(end->gap) : Clock::duration(silence);
            if (lastByte + quiet < until) until = lastByte + quiet;
        }
        if (now >= until) break;
        short revents = 0;
        const int r = pollFor(m_fd, POLLIN, until - now, &revents);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) continue;  // the loop head decides whether time is up
        if (revents & POLLIN) {
            const ssize_t n = ::read(m_fd, buf + got, capacity - got);
            if (n > 0) {
                got += std::size_t(n);
                lastByte = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        }
        // Hang-up or error with nothing to read: the peer is gone and no more
        // bytes will come, so waiting out the time would only spin.
        break;
    }
    return got;
}

std::size_t PosixSerialLine::bytesQueued()
{
    int n = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &n) != 0 || n < 0) return 0;
    return std::size_t(n);
}

std::size_t PosixSerialLine::readQueued(uint8_t* buf, std::size_t capacity)
{
    if (m_fd < 0 || capacity == 0) return 0;
    const ssize_t n = ::read(m_fd, buf, capacity);
    return n > 0 ? std::size_t(n) : 0;
}

LineEvents PosixSerialLine::waitEvents(std::chrono::milliseconds wait)
{
    LineEvents ev;
    if (m_fd < 0) return ev;
    const auto carrierNow = [this, &ev] {
        const int c = carrierState();
        if (c != m_lastCarrier && c >= 0 && m_lastCarrier >= 0) ev.carrierChanged = true;
        if (c >= 0) m_lastCarrier = c;
    };
    carrierNow();
    if (ev.carrierChanged) return ev;
    short revents = 0;
    const int r = pollFor(m_fd, POLLIN, wait, &revents);
    if (r > 0 && (revents & POLLIN)) ev.received = true;
    carrierNow();
    return ev;
}

void PosixSerialLine::pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

void PosixSerialLine::close()
{
    if (m_fd < 0) return;
    // Another process (the device model) may keep the tty open; leave it
    // open to the next program.
    ::ioctl(m_fd, TIOCNXCL);
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace zrv

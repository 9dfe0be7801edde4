#include "FdIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <thread>

namespace zrv::fdio {

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

std::size_t readReply(int fd, uint8_t* buf, std::size_t capacity, std::chrono::milliseconds total,
                      std::chrono::milliseconds silence, const FrameEnd* end)
{
    if (fd < 0) return 0;
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
        const int r = pollFor(fd, POLLIN, until - now, &revents);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) continue;  // the loop head decides whether time is up
        if (revents & POLLIN) {
            const ssize_t n = ::read(fd, buf + got, capacity - got);
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

std::size_t bytesQueued(int fd)
{
    int n = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &n) != 0 || n < 0) return 0;
    return std::size_t(n);
}

std::size_t readQueued(int fd, uint8_t* buf, std::size_t capacity)
{
    if (fd < 0 || capacity == 0) return 0;
    const ssize_t n = ::read(fd, buf, capacity);
    return n > 0 ? std::size_t(n) : 0;
}

bool writeAll(int fd, const uint8_t* data, std::size_t length, bool send)
{
    if (fd < 0) return false;
    std::size_t sent = 0;
    // A tty without flow control always drains; the limit only guards against
    // a peer that vanished with its buffer full.
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (sent < length) {
        const ssize_t n = send ? ::send(fd, data + sent, length - sent, MSG_NOSIGNAL)
                               : ::write(fd, data + sent, length - sent);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        short revents = 0;
        if (Clock::now() >= giveUp) return false;
        pollFor(fd, POLLOUT, giveUp - Clock::now(), &revents);
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

void FdLine::pause(std::chrono::milliseconds time) { std::this_thread::sleep_for(time); }

}  // namespace zrv::fdio

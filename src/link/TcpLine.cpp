#include "TcpLine.h"

#include "FdIo.h"
#include "text/SystemError.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zrv {

using fdio::Clock;

std::unique_ptr<TcpLine> TcpLine::connect(const std::string& host, const std::string& port,
                                          std::chrono::milliseconds timeout, std::string* error)
{
    const std::string where = host + ":" + port;
    const auto fail = [&](const std::string& why) {
        if (error) *error = where + ": " + why;
        return nullptr;
    };
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) return fail(std::string("адрес не найден (") + ::gai_strerror(rc) + ")");
    std::string why = "адрес не найден";
    int fd = -1;
    const auto giveUp = Clock::now() + timeout;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = text::systemErrorText(errno);
            continue;
        }
        int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            short revents = 0;
            r = fdio::pollFor(fd, POLLOUT, giveUp - Clock::now(), &revents) > 0 ? 0 : -1;
            int soError = ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (r == 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            errno = soError;
            r = soError == 0 ? 0 : -1;
        }
        if (r != 0) {
            why = text::systemErrorText(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) return fail(why);
    // Each request goes out as one segment, at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::unique_ptr<TcpLine>(new TcpLine(fd));
}

TcpLine::~TcpLine() { close(); }

void TcpLine::purge()
{
    if (m_fd < 0) return;
    uint8_t sink[256];
    while (::recv(m_fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

bool TcpLine::writeAll(const uint8_t* data, std::size_t length) { return fdio::writeAll(m_fd, data, length, true); }

LineEvents TcpLine::waitEvents(std::chrono::milliseconds wait)
{
    LineEvents ev;
    short revents = 0;
    if (m_fd >= 0 && fdio::pollFor(m_fd, POLLIN, wait, &revents) > 0 && (revents & POLLIN)) ev.received = true;
    return ev;
}

void TcpLine::close()
{
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace zrv

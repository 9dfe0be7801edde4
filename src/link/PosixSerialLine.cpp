#include "PosixSerialLine.h"

#include "FdIo.h"
#include "text/SystemError.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace zrv {

namespace {

void setError(std::string* error, const std::string& text)
{
    if (error) *error = text;
}

}  // namespace

PosixSerialLine::PosixSerialLine(int fd) : FdLine(fd) { m_lastCarrier = carrierState(); }

PosixSerialLine::~PosixSerialLine() { close(); }

std::unique_ptr<PosixSerialLine> PosixSerialLine::open(const std::string& path, std::string* error)
{
    if (path.empty()) {
        setError(error, "нет устройства для этого имени порта");
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, path + ": " + text::systemErrorText(errno));
        return nullptr;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        setError(error, path + ": это не последовательный порт");
        return nullptr;
    }
    // flock is the convention other serial tools check; TIOCEXCL stops later
    // openers that are not root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        setError(error, path + ": " + (e == EWOULDBLOCK ? std::string("порт занят другой программой")
                                                        : text::systemErrorText(e)));
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

std::unique_ptr<PosixSerialLine> PosixSerialLine::adopt(int fd)
{
    if (fd < 0) return nullptr;
    return std::unique_ptr<PosixSerialLine>(new PosixSerialLine(fd));
}

bool PosixSerialLine::applyLineSettings()
{
    if (m_fd < 0) return false;
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
    if (m_fd < 0 || ::ioctl(m_fd, TIOCMGET, &bits) != 0) return -1;
    return (bits & TIOCM_CAR) ? 1 : 0;
}

void PosixSerialLine::purge()
{
    if (m_fd >= 0) ::tcflush(m_fd, TCIOFLUSH);
}

bool PosixSerialLine::writeAll(const uint8_t* data, std::size_t length)
{
    if (!fdio::writeAll(m_fd, data, length, false)) return false;
    // The reply time-out counts from the end of transmission, not from the
    // moment the bytes were queued in the driver.
    ::tcdrain(m_fd);
    return true;
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
    const int r = fdio::pollFor(m_fd, POLLIN, wait, &revents);
    if (r > 0 && (revents & POLLIN)) ev.received = true;
    carrierNow();
    return ev;
}

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

#include "PtyPair.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fcntl.h>

namespace zrvtest {

PtyPair::PtyPair()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) return;
    slavePath = name;
    slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slaveKeep >= 0 && ::tcgetattr(slaveKeep, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slaveKeep, TCSANOW, &t);
    }
}

PtyPair::~PtyPair()
{
    if (slaveKeep >= 0) ::close(slaveKeep);
    if (master >= 0) ::close(master);
}

}  // namespace zrvtest

#pragma once
// A pseudo-terminal pair for tests: the master end stays with the test, the
// slave end is a tty path that a serial line can open.

#include <string>

namespace zrvtest {

struct PtyPair {
    int master = -1;
    std::string slavePath;
    int slaveKeep = -1;  // held open so the master never sees a hang-up

    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    bool ok() const { return master >= 0 && slaveKeep >= 0; }
};

}  // namespace zrvtest

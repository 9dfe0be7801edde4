#include "Paths.h"

#include <cstdlib>

namespace zrv::fleet {

namespace {

std::string xdgFolder(const char* variable, const char* fallback)
{
    const char* set = std::getenv(variable);
    if (set && *set) return set;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + fallback;
}

}  // namespace

std::string defaultStorePath() { return xdgFolder("XDG_DATA_HOME", "/.local/share") + "/zrvcollect/zrv.db"; }

std::string defaultStateDir() { return xdgFolder("XDG_STATE_HOME", "/.local/state") + "/zrvcollect"; }

}  // namespace zrv::fleet

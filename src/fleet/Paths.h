#pragma once
// Where the collector keeps its data and its state when nothing says
// otherwise, for this user: both programs look there.

#include <string>

namespace zrv::fleet {

// $XDG_DATA_HOME/zrvcollect/zrv.db (~/.local/share/zrvcollect/zrv.db).
std::string defaultStorePath();
// $XDG_STATE_HOME/zrvcollect (~/.local/state/zrvcollect): the spool.
std::string defaultStateDir();

}  // namespace zrv::fleet

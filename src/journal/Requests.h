#pragma once
// The journal's request of the line (see link/Requests.h).

#include "journal/JournalReading.h"
#include "link/Requests.h"

#include <optional>

namespace zrv::journal {

// A journal reading. With `known` (the records of the report last read or
// saved for this device, newest first), only the records newer than the
// first one already held are read; without, or with none, the whole ring.
struct Read {
    std::optional<RecordKeys> known;
    QueueRule rule() const { return {}; }
};

}  // namespace zrv::journal

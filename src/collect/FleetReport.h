#pragma once
// `zrvcollect status`: the fleet at a glance from the shared tables, as a
// monitoring plugin says it: collectors alive and their last heartbeat,
// stations due, overdue and failing, each line's share of failed calls over
// the last day. Only read, through the read-only reader.

#include <cstdio>
#include <string>
#include <vector>

namespace zrv::collect {

struct ReportOptions {
    std::string source;  // an SQLite path or a PostgreSQL URL
    bool json = false;
    // From the roster, when one is given: how long a heartbeat may be old
    // before its collector counts as gone (when its row does not say), and
    // which collectors it names.
    int leaseS = 120;
    std::vector<std::string> knownHosts;
    // The roster's stations: a row of a station since taken out of it is
    // no station of the fleet (empty: every row is).
    std::vector<std::string> stations;
};

// Prints the report and gives the plugin's exit status: 0 all well,
// 1 a warning (something overdue, a row no collector should have written),
// 2 critical (a collector or a line gone), 3 the store could not be read.
int printFleetReport(const ReportOptions& options, FILE* out);

}  // namespace zrv::collect

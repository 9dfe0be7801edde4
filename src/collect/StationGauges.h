#pragma once
// `zrvcollect metrics`: each station's gauges from the store, whichever
// collector called it, in the Prometheus text format (for a timer that
// writes node_exporter's textfile, one place for the whole fleet): zrv_up,
// zrv_last_success_timestamp_seconds, zrv_battery_volts,
// zrv_clock_offset_seconds, zrv_open_findings{kind,severity} and
// zrv_call_interval_seconds. Only read, through the read-only reader.

#include "collect/FleetReport.h"

#include <QByteArray>

#include <map>
#include <string>

namespace zrv::collect {

// Prints the gauges; 0, or 3 (and why on standard error) when the store
// could not be read.
int printStationMetrics(const ReportOptions& options, const std::map<std::string, int>& everyS, FILE* out, FILE* err);

}  // namespace zrv::collect

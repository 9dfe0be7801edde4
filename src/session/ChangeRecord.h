#pragma once
// The record of every change the terminal makes to a device: one JSON line a
// write, appended to changes.jsonl beside zrvterm.ini, so that weeks later
// the first question (who changed what, when, from which value) has an
// answer. A line is on disk (O_APPEND, fsync) before the write is reported
// done; a line that cannot be written never stops the write itself.

#include <chrono>
#include <string>

namespace zrv {

struct ChangeEntry {
    std::chrono::system_clock::time_point at = std::chrono::system_clock::now();
    std::string port;
    unsigned device = 0;
    std::string what;    // "valve 3", "step", "mode", "external control", "setpoints", "clock"
    std::string before;  // JSON values, as the device had it (as last read)
    std::string after;   // and as sent
    std::string outcome;  // "ok", or the failure in the monitor's words
};

// The line, without its end: local and UTC time, the login name and host,
// then the entry's fields.
std::string changeLine(const ChangeEntry& e);

// A JSON string of UTF-8 text.
std::string jsonString(const std::string& s);

// Appends the line and a line end to `path` and flushes it to disk; false
// and why (in Russian) when that did not happen whole.
bool appendChange(const std::string& path, const std::string& line, std::string* why);

}  // namespace zrv

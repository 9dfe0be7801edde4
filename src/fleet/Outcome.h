#pragma once
// How a call of a station ended, as the collector stores it and as the
// terminal reads it back from the store; one vocabulary with the change
// record's "ok".

#include <optional>
#include <string>
#include <string_view>

namespace zrv::fleet {

enum class Outcome {
    Ok,
    PortUnavailable,  // the port did not open (or another program holds it)
    DialFailed,       // the modem did not connect
    NoDevice,         // nobody answered the detection
    TablesUnread,     // found, but its tables could not be read
    Incomplete,       // connected, but a later step went unanswered
    Stopped,          // the collector was told to stop
};
// "ok", "port-unavailable", ... as stores and outputs write it.
const char* outcomeName(Outcome o);
// A short Russian phrase for the summary.
const char* outcomeText(Outcome o);
// The outcome a store names; nothing for a name this program does not write.
std::optional<Outcome> outcomeNamed(std::string_view name);
// What a stored outcome says in Russian: a call's by its name, a change's
// "ok" alike; the change record's failure words are Russian already.
std::string outcomeWords(std::string_view stored);

}  // namespace zrv::fleet

#include "Outcome.h"

namespace zrv::fleet {

const char* outcomeName(Outcome o)
{
    switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::PortUnavailable: return "port-unavailable";
    case Outcome::DialFailed: return "dial-failed";
    case Outcome::NoDevice: return "no-device";
    case Outcome::TablesUnread: return "tables-unread";
    case Outcome::Incomplete: return "incomplete";
    case Outcome::Stopped: return "stopped";
    }
    return "?";
}

const char* outcomeText(Outcome o)
{
    switch (o) {
    case Outcome::Ok: return "успешно";
    case Outcome::PortUnavailable: return "порт недоступен";
    case Outcome::DialFailed: return "модем не соединился";
    case Outcome::NoDevice: return "прибор не отвечает";
    case Outcome::TablesUnread: return "таблицы не прочитаны";
    case Outcome::Incomplete: return "прочитано не всё";
    case Outcome::Stopped: return "остановлено";
    }
    return "?";
}

std::optional<Outcome> outcomeNamed(std::string_view name)
{
    for (Outcome o : {Outcome::Ok, Outcome::PortUnavailable, Outcome::DialFailed, Outcome::NoDevice,
                      Outcome::TablesUnread, Outcome::Incomplete, Outcome::Stopped})
        if (name == outcomeName(o)) return o;
    return std::nullopt;
}

}  // namespace zrv::fleet

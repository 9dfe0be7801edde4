#include "Outcome.h"

#include "link/TransactOutcome.h"

#include <array>

namespace zrv::fleet {

namespace {

struct Word {
    Outcome outcome;
    const char* name;  // as stores, outputs and the change record write it
    const char* text;  // as people read it
};
// The one table of an outcome's words.
constexpr std::array<Word, 7> kWords{{
    {Outcome::Ok, kOkWord, "успешно"},
    {Outcome::PortUnavailable, "port-unavailable", "порт недоступен"},
    {Outcome::DialFailed, "dial-failed", "модем не соединился"},
    {Outcome::NoDevice, "no-device", "прибор не отвечает"},
    {Outcome::TablesUnread, "tables-unread", "таблицы не прочитаны"},
    {Outcome::Incomplete, "incomplete", "прочитано не всё"},
    {Outcome::Stopped, "stopped", "остановлено"},
}};

const Word* wordOf(Outcome o)
{
    for (const Word& w : kWords)
        if (w.outcome == o) return &w;
    return nullptr;
}

}  // namespace

const char* outcomeName(Outcome o)
{
    const Word* w = wordOf(o);
    return w ? w->name : "?";
}

const char* outcomeText(Outcome o)
{
    const Word* w = wordOf(o);
    return w ? w->text : "?";
}

std::optional<Outcome> outcomeNamed(std::string_view name)
{
    for (const Word& w : kWords)
        if (name == w.name) return w.outcome;
    return std::nullopt;
}

std::string outcomeWords(std::string_view stored)
{
    const std::optional<Outcome> o = outcomeNamed(stored);
    return o ? outcomeText(*o) : std::string(stored);
}

}  // namespace zrv::fleet

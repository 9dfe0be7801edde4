#include "ModemDialogue.h"

#include <array>

namespace zrv::modem {

std::string dialCommand(std::string_view number) { return "ATDP" + std::string(number) + "\r"; }

Result scanResult(std::string_view text)
{
    static constexpr std::array<std::pair<std::string_view, Result>, 4> kTokens = {{
        {"NO DIALTONE", Result::NoDialtone},
        {"NO CARRIER", Result::NoCarrier},
        {"CONNECT", Result::Connect},
        {"BUSY", Result::Busy},
    }};
    for (const auto& [token, result] : kTokens)
        if (text.find(token) != std::string_view::npos) return result;
    return Result::None;
}

std::string resultText(Result r)
{
    switch (r) {
    case Result::NoDialtone: return "Нет линии";
    case Result::NoCarrier: return "Нет несущей";
    case Result::Connect: return "Соединение успешно";
    case Result::Busy: return "Занято";
    case Result::None: break;
    }
    return {};
}

void ModemDialogue::send(std::string_view bytes)
{
    m_line.writeAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ModemDialogue::dial(std::string_view number)
{
    m_line.purge();
    send(dialCommand(number));
    m_quietTicks = 0;
    m_dialling = true;
}

TickOutcome ModemDialogue::tick()
{
    TickOutcome out;
    if (!m_dialling) return out;
    const LineEvents ev = m_line.waitEvents(std::chrono::milliseconds(0));
    if (!ev.received && !ev.carrierChanged) {
        if (++m_quietTicks > kNoAnswerTicks) {
            m_dialling = false;
            send(kHangUpCommand);
            out.kind = TickOutcome::NoAnswer;
            out.state = "Нет ответа";
        }
        return out;
    }
    if (ev.carrierChanged) {
        m_dialling = false;
        out.kind = TickOutcome::Carrier;
        return out;
    }
    // Exactly what is queued now; a token split across two reads is not seen.
    std::string text(m_line.bytesQueued(), '\0');
    text.resize(m_line.readQueued(reinterpret_cast<uint8_t*>(text.data()), text.size()));
    const Result r = scanResult(text);
    if (r == Result::None) {
        m_line.purge();
        return out;
    }
    m_dialling = false;
    out.kind = r == Result::Connect ? TickOutcome::Connected : TickOutcome::Failed;
    out.state = resultText(r);
    return out;
}

void ModemDialogue::abandon()
{
    m_dialling = false;
    send(kHangUpCommand);
}

void HangUp(SerialLine& line, const std::function<void(const std::string&)>& status,
            const std::function<void(std::chrono::milliseconds)>& pause)
{
    const auto wait = [&](std::chrono::milliseconds t) {
        if (pause)
            pause(t);
        else
            line.pause(t);
    };
    const auto send = [&line](std::string_view bytes) {
        line.writeAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    status("Разрываю соединение...");
    wait(kGuardTime);
    send(kEscape);
    wait(kGuardTime);
    send(kHangUpCommand);
    wait(kGuardTime);
    // (sic): kept letter for letter, as operators and their scripts know it.
    status("Усторйство не обнаружено");
}

}  // namespace zrv::modem

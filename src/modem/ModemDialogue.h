#pragma once
// Dialling the device through a Hayes-command modem on the serial line, and
// hanging up again. No initialisation string is sent: "ATDP", the number and
// a carriage return dial; "+++" between guard times and "ath0" hang up.

#include "link/SerialLine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zrv::modem {

inline constexpr std::string_view kHangUpCommand = "ath0\r\n";
inline constexpr std::string_view kEscape = "+++";
inline constexpr std::chrono::milliseconds kGuardTime{3500};
inline constexpr std::chrono::milliseconds kTickInterval{20};
// Ticks without any line event before the dial counts as unanswered (70 s).
inline constexpr uint32_t kNoAnswerTicks = 3500;

// "ATDP", the number as typed, carriage return.
std::string dialCommand(std::string_view number);

enum class Result { NoDialtone, NoCarrier, Connect, Busy, None };

// The first of NO DIALTONE, NO CARRIER, CONNECT, BUSY found anywhere in the
// text, in that order of precedence.
Result scanResult(std::string_view text);

// The operator's text for a result: "Нет линии", "Нет несущей",
// "Соединение успешно", "Занято"; empty for None.
std::string resultText(Result r);

struct TickOutcome {
    enum Kind {
        Waiting,    // nothing decided; supervision goes on
        NoAnswer,   // the tick limit passed: "Нет ответа", ath0 sent
        Carrier,    // the carrier came: success, State empty
        Connected,  // CONNECT: success
        Failed,     // NO DIALTONE, NO CARRIER or BUSY
    } kind = Waiting;
    std::string state;  // the State text to show (Failed, NoAnswer, Connected)
    bool finished() const { return kind != Waiting; }
    bool success() const { return kind == Carrier || kind == Connected; }
};

// The dial and its supervision on one line. The supervision tick never blocks:
// it looks for line events without waiting and reads only what is queued.
class ModemDialogue {
public:
    explicit ModemDialogue(SerialLine& line) : m_line(line) {}

    // Discards both queues, sends the dial command, starts supervision.
    void dial(std::string_view number);
    // One supervision tick (every 20 ms while dialling).
    TickOutcome tick();
    // Gives up a dial: "ath0" CR LF. The caller closes the port.
    void abandon();

    bool dialling() const { return m_dialling; }
    uint32_t ticksWithoutEvent() const { return m_quietTicks; }

private:
    void send(std::string_view bytes);

    SerialLine& m_line;
    uint32_t m_quietTicks = 0;
    bool m_dialling = false;
};

// From data mode back to command mode and on-hook: 3.5 s silence, "+++",
// 3.5 s, "ath0" CR LF, 3.5 s. The status texts go to `status`; `pause`
// waits (the window passes one that keeps repainting).
void HangUp(SerialLine& line, const std::function<void(const std::string&)>& status,
            const std::function<void(std::chrono::milliseconds)>& pause = {});

}  // namespace zrv::modem

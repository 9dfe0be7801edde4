#pragma once
// A Hayes-command modem in front of the device: command mode with optional
// echo, "AT" answered "OK", "ATD" dialling with a result chosen by the number,
// data mode that passes bytes through, "+++" between guard times back to
// command mode, "ATH" to hang up.
//
// Dial results by the number's last digit: 1 BUSY, 2 NO CARRIER,
// 3 NO DIALTONE, 4 no answer at all; any other: CONNECT 9600 after a delay.

#include "DeviceModel.h"

#include <chrono>
#include <string>
#include <vector>

namespace zrvsim {

class HayesModem {
public:
    struct Options {
        bool echo = true;
        std::chrono::milliseconds connectDelay{300};
        std::chrono::milliseconds guardTime{1000};
    };

    struct Event {
        Clock::time_point at;
        std::string what;  // "AT", "dial 123", "+++", "ath0", "connect", ...
    };

    explicit HayesModem(Options o) : m_options(o) {}
    HayesModem() : HayesModem(Options{}) {}

    // Bytes from the terminal. Returns those that go on to the device (data
    // mode); what the modem says back is appended to `toTerminal`.
    std::string input(const std::string& bytes, Clock::time_point now, std::string& toTerminal);
    // Lets time pass: a dial's result, the guard time after "+++".
    void advance(Clock::time_point now, std::string& toTerminal);
    // When advance has something to do next; max() when nothing.
    Clock::time_point nextDeadline() const;

    bool dataMode() const { return m_state == State::Data; }
    bool callUp() const { return m_state == State::Data || m_state == State::OnlineCommand; }
    const std::vector<Event>& events() const { return m_events; }
    // The number of the last dial.
    const std::string& dialledNumber() const { return m_dialledNumber; }

private:
    enum class State { Idle, Dialling, Data, OnlineCommand };
    void command(const std::string& line, Clock::time_point now, std::string& out);
    void flushHeldPluses(std::string& toDevice);

    Options m_options;
    State m_state = State::Idle;
    std::string m_line;
    std::string m_dialledNumber;
    Clock::time_point m_dialResultAt = Clock::time_point::max();
    Clock::time_point m_lastData{};
    int m_heldPluses = 0;
    Clock::time_point m_escapeAt = Clock::time_point::max();
    std::vector<Event> m_events;
};

}  // namespace zrvsim

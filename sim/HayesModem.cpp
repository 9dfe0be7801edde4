#include "HayesModem.h"

#include <algorithm>
#include <cctype>

namespace zrvsim {

namespace {
const std::string kOk = "\r\nOK\r\n";
}

std::string HayesModem::input(const std::string& bytes, Clock::time_point now, std::string& out)
{
    std::string toDevice;
    for (char c : bytes) {
        if (m_state == State::Data) {
            // "+++" counts only after a guard time of silence, and only if
            // another guard time of silence follows (checked in advance()).
            if (c == '+' && m_heldPluses < 3 && (m_heldPluses > 0 || now - m_lastData >= m_options.guardTime)) {
                if (++m_heldPluses == 3) m_escapeAt = now + m_options.guardTime;
                continue;
            }
            flushHeldPluses(toDevice);
            toDevice += c;
            m_lastData = now;
            continue;
        }
        if (m_options.echo) out += c;
        if (c == '\r') {
            command(m_line, now, out);
            m_line.clear();
        } else if (c != '\n' && m_line.size() < 256) {
            m_line += c;
        }
    }
    return toDevice;
}

void HayesModem::flushHeldPluses(std::string& toDevice)
{
    toDevice.append(std::size_t(m_heldPluses), '+');
    m_heldPluses = 0;
    m_escapeAt = Clock::time_point::max();
}

void HayesModem::command(const std::string& raw, Clock::time_point now, std::string& out)
{
    std::string cmd;
    for (char c : raw)
        if (c != ' ') cmd += char(std::toupper(static_cast<unsigned char>(c)));
    if (cmd.empty()) return;
    m_events.push_back({now, raw});
    if (cmd.rfind("AT", 0) != 0) {
        out += "\r\nERROR\r\n";
        return;
    }
    const std::string rest = cmd.substr(2);
    if (rest.empty() || rest == "E0" || rest == "E1" || rest == "Z") {
        if (rest == "E0") m_options.echo = false;
        if (rest == "E1") m_options.echo = true;
        out += kOk;
    } else if (rest[0] == 'D') {
        std::string number = rest.substr(1);
        if (!number.empty() && (number[0] == 'P' || number[0] == 'T')) number.erase(0, 1);
        m_dialledNumber = number;
        m_events.push_back({now, "dial " + number});
        m_state = State::Dialling;
        const char last = number.empty() ? '0' : number.back();
        if (last == '4') {
            m_dialResultAt = Clock::time_point::max();  // rings forever, nobody answers
        } else {
            m_dialResultAt = now + (last >= '1' && last <= '3' ? std::chrono::milliseconds(100) : m_options.connectDelay);
        }
    } else if (rest == "H" || rest == "H0") {
        m_state = State::Idle;
        m_events.push_back({now, "hangup"});
        out += kOk;
    } else if (rest == "O" && m_state == State::OnlineCommand) {
        m_state = State::Data;
        out += "\r\nCONNECT 9600\r\n";
    } else {
        out += "\r\nERROR\r\n";
    }
}

void HayesModem::advance(Clock::time_point now, std::string& out)
{
    if (m_state == State::Dialling && now >= m_dialResultAt) {
        m_dialResultAt = Clock::time_point::max();
        switch (m_dialledNumber.empty() ? '0' : m_dialledNumber.back()) {
        case '1': out += "\r\nBUSY\r\n"; m_state = State::Idle; break;
        case '2': out += "\r\nNO CARRIER\r\n"; m_state = State::Idle; break;
        case '3': out += "\r\nNO DIALTONE\r\n"; m_state = State::Idle; break;
        default:
            out += "\r\nCONNECT 9600\r\n";
            m_state = State::Data;
            m_lastData = now;
            m_events.push_back({now, "connect"});
            break;
        }
    }
    if (m_state == State::Data && m_heldPluses == 3 && now >= m_escapeAt) {
        m_heldPluses = 0;
        m_escapeAt = Clock::time_point::max();
        m_state = State::OnlineCommand;
        m_events.push_back({now, "+++"});
        out += kOk;
    }
}

Clock::time_point HayesModem::nextDeadline() const { return std::min(m_dialResultAt, m_escapeAt); }

}  // namespace zrvsim

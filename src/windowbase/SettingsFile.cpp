#include "SettingsFile.h"

#include "text/ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <limits>

namespace zrv {

namespace {

// Decimal integer with blanks allowed before the digits, as the file's
// numbers are written; anything else is refused.
bool toInt32(std::string_view s, int32_t* out)
{
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > int64_t(std::numeric_limits<int32_t>::max()) + 1) return false;
    }
    if (negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
    *out = int32_t(v);
    return true;
}

class Cursor {
public:
    explicit Cursor(std::string_view t) : m_text(t) {}
    // Past the next colon that a blank follows. Numbers keep the blank in
    // front of them (blanks before digits are allowed); texts start after it.
    bool skipKey(bool blankToo = false)
    {
        const std::size_t p = m_text.find(": ", m_pos);
        if (p == std::string_view::npos) {
            m_pos = m_text.size();
            return false;
        }
        m_pos = p + (blankToo ? 2 : 1);
        return true;
    }
    // The text up to the next semicolon, and past it; nothing when none is left.
    bool value(std::string_view* v)
    {
        const std::size_t p = m_text.find(';', m_pos);
        if (p == std::string_view::npos) {
            *v = m_text.substr(m_pos);
            m_pos = m_text.size();
            return false;
        }
        *v = m_text.substr(m_pos, p - m_pos);
        m_pos = p + 1;
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

SettingsParse SettingsFile::parse(std::string_view text)
{
    SettingsParse result;
    Settings s;
    Cursor cursor(text);
    int slot = 0;
    const auto numbers = [&](int count) {
        cursor.skipKey();
        for (int k = 0; k < count; ++k) {
            std::string_view v;
            const bool terminated = cursor.value(&v);
            int32_t n = 0;
            if (!terminated || !toInt32(v, &n)) {
                result.malformed = true;
                if (terminated) {
                    const std::size_t first = v.find_first_not_of(' ');
                    result.badValue = first == std::string_view::npos ? std::string() : std::string(v.substr(first));
                }
                return false;
            }
            s.values[std::size_t(slot++)] = n;
        }
        return true;
    };
    for (int line = 1; line <= 5; ++line)
        if (!numbers(3)) return result;
    for (int line = 6; line <= 10; ++line)
        if (!numbers(1)) return result;
    const auto textValue = [&](std::string* out) {
        std::string_view v;
        if (cursor.skipKey(true) && cursor.value(&v)) *out = std::string(v);
    };
    textValue(&s.phoneNumber);
    textValue(&s.journalFileName);
    s.loaded = true;
    result.settings = s;
    return result;
}

SettingsParse SettingsFile::read(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buf[kReadLimit];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n < 0) return {};
    std::string_view text(buf, std::size_t(n));
    if (const std::size_t z = text.find('\0'); z != std::string_view::npos) text = text.substr(0, z);
    return parse(text);
}

std::string SettingsFile::compose(const SettingsSnapshot& live)
{
    std::string out;
    const auto line = [&out](const char* key, std::initializer_list<int32_t> values) {
        out += key;
        for (int32_t v : values) out += std::to_string(v) + ";";
        out += "\r\n";
    };
    const auto place = [&line](const char* key, const WindowPlace& p) { line(key, {p.left, p.top, p.state}); };
    place("Select: ", live.select);
    place("Measure: ", live.measure);
    place("Sets: ", live.sets);
    place("Front_Panel: ", live.frontPanel);
    line("Special: ", {0, 0, 0});
    line("ModemEnable: ", {live.modemEnable ? 1 : 0});
    line("COM: ", {live.comIndex});
    line("Address: ", {live.addressIndex});
    line("MainHeight: ", {live.mainHeight});
    line("MainWidth: ", {live.mainWidth});
    out += "PhoneNumber: " + live.phoneNumber + ";\r\n";
    out += "FileName: " + live.journalFileName + ";\r\n";
    return out;
}

bool SettingsFile::write(const std::string& text, const std::string& path, std::string* error)
{
    return text::replaceFile(path, text, error);
}

ChildPlacement placementFor(ChildWindow window, const Settings& s)
{
    struct Default {
        int32_t left, top;
        bool minimized;
        int slot;
    };
    Default d{};
    switch (window) {
    case ChildWindow::Select: d = {0, 0, false, kSlotSelect}; break;
    case ChildWindow::Measure: d = {216, 0, false, kSlotMeasure}; break;
    case ChildWindow::Sets: d = {0, 203, true, kSlotSets}; break;
    case ChildWindow::FrontPanel: d = {215, 201, false, kSlotFrontPanel}; break;
    }
    if (!s.loaded) return {d.left, d.top, d.minimized, false};
    if (s.values[std::size_t(d.slot + 2)] != 0) return {d.left, d.top, true, false};
    return {s.values[std::size_t(d.slot)], s.values[std::size_t(d.slot + 1)], false, window == ChildWindow::Select};
}

}  // namespace zrv

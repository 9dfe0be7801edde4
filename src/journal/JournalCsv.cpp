#include "JournalCsv.h"

#include "text/NumberText.h"

#include <cctype>

namespace zrv::journal {

namespace {

std::string trim(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// "7:00:00  06.12.2026" -> "06.12.2026 7:00:00"; the markers of an invalid
// part stay as the report writes them.
std::string recordTimeOf(const std::string& stampText)
{
    const std::string t = trim(stampText);
    const auto gap = t.find("  ");
    if (gap == std::string::npos || t.find("No ") != std::string::npos) return t;
    const std::string time = t.substr(0, gap);
    const std::string date = trim(t.substr(gap));
    if (time.find(':') == std::string::npos || date.find('.') == std::string::npos) return t;
    return date + " " + time;
}

std::string field(const std::string& s)
{
    if (s.find_first_of(";\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::vector<CsvRow> csvRows(const std::vector<std::string>& lines)
{
    static const std::string kInput = "Input Register: ";
    static const std::string kHolding = "Holding Register: ";
    std::vector<CsvRow> rows;
    std::size_t recordFirst = 0;  // the current record's first row
    for (const std::string& raw : lines) {
        std::string line = raw;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t at = line.find(kInput);
        const bool input = at != std::string::npos;
        if (!input) at = line.find(kHolding);
        if (at != std::string::npos) {
            CsvRow r;
            r.entryTime = trim(line.substr(0, at));
            const std::size_t numberAt = at + (input ? kInput : kHolding).size();
            std::size_t p = numberAt;
            while (p < line.size() && std::isdigit(static_cast<unsigned char>(line[p]))) ++p;
            const std::string number = line.substr(numberAt, p - numberAt);
            if (number.empty()) continue;  // not an entry line after all
            r.reg = std::string(input ? "Input " : "Holding ") + number;
            const std::string rest = p < line.size() ? line.substr(p + 1) : std::string();
            const auto eq = rest.rfind('=');
            if (eq == std::string::npos) continue;
            r.name = trim(rest.substr(0, eq));
            r.value = text::withDecimalComma(trim(rest.substr(eq + 1)));
            rows.push_back(std::move(r));
            continue;
        }
        const auto p1 = line.find("  P1=");
        if (p1 != std::string::npos && line.find(" Q=") != std::string::npos) {
            const std::string when = recordTimeOf(line.substr(0, p1));
            for (std::size_t i = recordFirst; i < rows.size(); ++i) rows[i].recordTime = when;
            recordFirst = rows.size();
        }
    }
    return rows;
}

std::string journalCsv(const std::vector<std::string>& lines)
{
    std::string out = "\xEF\xBB\xBF";
    out += "Время записи;Время события;Параметр;Регистр;Значение\r\n";
    for (const CsvRow& r : csvRows(lines))
        out += field(r.recordTime) + ";" + field(r.entryTime) + ";" + field(r.name) + ";" + field(r.reg) + ";" +
               field(r.value) + "\r\n";
    return out;
}

}  // namespace zrv::journal

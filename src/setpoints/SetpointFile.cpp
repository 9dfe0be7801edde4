#include "SetpointFile.h"

#include "setpoints/SetpointCatalogue.h"
#include "text/Cp1251.h"
#include "text/NumberParse.h"
#include "text/SystemError.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace zrv::setpoints {

namespace {

constexpr char kMagic[] = "# Уставки ZRV";
constexpr char kDeviceLine[] = "# Устройство: ZRV-";
constexpr std::size_t kMaxFileBytes = 64 * 1024;

// The first catalogue row of each register (a float's label stands on its
// lower register).
const Row* rowForRegister(uint16_t r)
{
    for (const Row& row : catalogue())
        if (row.reg == r) return &row;
    return nullptr;
}

bool isFloat(const Row& row) { return row.display == Display::G4 || row.display == Display::Thousandths; }

// The register's label and value as the table shows them; the upper half
// of a float shows neither.
std::pair<std::string, std::string> shown(uint16_t r, const RegisterImage& image)
{
    if (const Row* row = rowForRegister(r)) return {row->label, displayText(*row, image)};
    if (r > 0) {
        const Row* lower = rowForRegister(uint16_t(r - 1));
        if (lower && isFloat(*lower)) return {{}, {}};
    }
    return {{}, std::to_string(image.holding(r))};
}

std::vector<std::string_view> split(std::string_view line, char sep)
{
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t at = line.find(sep, pos);
        out.push_back(line.substr(pos, at == std::string_view::npos ? std::string_view::npos : at - pos));
        if (at == std::string_view::npos) break;
        pos = at + 1;
    }
    return out;
}

std::optional<long> wholeNumber(std::string_view s, long lo, long hi)
{
    if (s.empty() || s.size() > 6) return std::nullopt;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<uint16_t> hexWord(std::string_view s)
{
    if (s.size() != 4) return std::nullopt;
    unsigned v = 0;
    for (char c : s) {
        v <<= 4;
        if (c >= '0' && c <= '9') v |= unsigned(c - '0');
        else if (c >= 'A' && c <= 'F') v |= unsigned(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') v |= unsigned(c - 'a' + 10);
        else return std::nullopt;
    }
    return uint16_t(v);
}

// UTF-8 text without control characters other than tab and line ends: a
// binary file stops here, before any of it is looked at as values.
bool validText(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) n = 1;
        else if ((c & 0xF0) == 0xE0) n = 2;
        else if ((c & 0xF8) == 0xF0) n = 3;
        else return false;
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

bool startsWith(std::string_view s, std::string_view head) { return s.substr(0, head.size()) == head; }

// "# Устройство: ZRV-127": the device number (at most 8 x 255); anything
// else there is taken as no number at all, as in a hand-written file.
std::optional<unsigned> deviceNumberOf(std::string_view line)
{
    if (!startsWith(line, kDeviceLine)) return std::nullopt;
    const auto n = wholeNumber(line.substr(sizeof kDeviceLine - 1), 0, 8 * 255);
    if (!n) return std::nullopt;
    return unsigned(*n);
}

// A value as the file may hold it: a decimal comma is a point.
std::string fileValue(std::string_view v)
{
    std::string s(v);
    if (s.find('.') == std::string::npos && std::count(s.begin(), s.end(), ',') == 1) std::replace(s.begin(), s.end(), ',', '.');
    return s;
}

}  // namespace

std::string formatSetpointFile(const RegisterImage& image, const ValveWeightArray& weights, unsigned deviceNumber,
                               const std::string& savedAt, const std::string& programVersion)
{
    std::string out = std::string(kMagic) + "\n";
    out += "# Устройство: ZRV-" + std::to_string(deviceNumber) + "\n";
    out += "# Сохранено: " + savedAt + "\n";
    out += "# Программа: zrvterm " + programVersion + "\n";
    out += "# Код решает, пока значение не исправлено; исправленное значение берётся как введённое в таблицу.\n";
    out += "# Регистр\tПараметр\tЗначение\tКод\n";
    char hex[8];
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) {
        const auto [label, value] = shown(r, image);
        std::snprintf(hex, sizeof hex, "%04X", unsigned(image.holding(r)));
        out += "HR " + std::to_string(r) + "\t" + label + "\t" + value + "\t" + hex + "\n";
    }
    for (int i = 0; i < reg::kValveCount; ++i)
        out += "W " + std::to_string(i + 1) + "\tВесовой коэффициент клапана " + std::to_string(i + 1) + "\t" +
               std::to_string(weights[std::size_t(i)].load(std::memory_order_relaxed)) + "\n";
    return out;
}

SetpointFileResult parseSetpointFile(std::string_view text)
{
    SetpointFileResult result;
    const auto fail = [&result](int line, const std::string& what) {
        result.ok = false;
        result.error = line > 0 ? "строка " + std::to_string(line) + ": " + what : what;
        return result;
    };
    if (text.size() > kMaxFileBytes) return fail(0, "файл слишком велик для файла уставок");
    // A byte-order mark says UTF-8. Without one, the header decides: our own
    // files are UTF-8, Notepad on a Russian Windows saves CP1251, and the
    // Cyrillic header reads right in only one of them.
    std::string decoded;
    if (startsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
        if (!validText(text)) return fail(0, "это не файл уставок ZRV: в начале метка UTF-8, но текст не в UTF-8");
        result.encoding = "UTF-8";
    } else if (validText(text) && startsWith(text, kMagic)) {
        result.encoding = "UTF-8";
    } else {
        decoded = text::cp1251ToUtf8(text);
        if (!validText(decoded) || !startsWith(decoded, kMagic))
            return fail(0, "это не файл уставок ZRV: первая строка не \"" + std::string(kMagic) +
                               "\" ни в кодировке UTF-8, ни в CP1251");
        text = decoded;
        result.encoding = "CP1251";
    }
    if (!startsWith(text, kMagic)) return fail(0, "это не файл уставок ZRV: первая строка не \"" + std::string(kMagic) + "\"");

    auto scratch = std::make_unique<RegisterImage>();
    ValveWeightArray weights{};
    std::array<bool, kSetpointRegisters> seen{};
    std::array<bool, reg::kValveCount> seenWeight{};
    // Values typed by hand, applied once every code is in place, so that the
    // two halves of a float are whole before an edit replaces them.
    struct Typed {
        int line;
        const Row* row;
        std::string value;
    };
    std::vector<Typed> typed;

    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line[0] == '#') {
            if (!result.deviceNumber) result.deviceNumber = deviceNumberOf(line);
            continue;
        }
        if (line.empty()) continue;
        const std::vector<std::string_view> f = split(line, '\t');
        if (line.substr(0, 3) == "HR ") {
            if (f.size() != 4) return fail(lineNo, "ожидались регистр, параметр, значение и код");
            const auto r = wholeNumber(f[0].substr(3), 0, kSetpointRegisters - 1);
            if (!r) return fail(lineNo, "нет такого регистра уставок: \"" + std::string(f[0]) + "\"");
            if (seen[std::size_t(*r)]) return fail(lineNo, "регистр " + std::to_string(*r) + " указан дважды");
            seen[std::size_t(*r)] = true;
            const auto code = hexWord(f[3]);
            if (!code) return fail(lineNo, "код \"" + std::string(f[3]) + "\" не из четырёх шестнадцатеричных цифр");
            scratch->setHolding(uint16_t(*r), *code);
            const Row* row = rowForRegister(uint16_t(*r));
            if (row && row->edit != Edit::Weight) typed.push_back({lineNo, row, fileValue(f[2])});
        } else if (line.substr(0, 2) == "W ") {
            if (f.size() != 3) return fail(lineNo, "ожидались клапан, название и весовой коэффициент");
            const auto v = wholeNumber(f[0].substr(2), 1, reg::kValveCount);
            if (!v) return fail(lineNo, "нет такого клапана: \"" + std::string(f[0]) + "\"");
            if (seenWeight[std::size_t(*v - 1)]) return fail(lineNo, "клапан " + std::to_string(*v) + " указан дважды");
            const auto w = wholeNumber(f[2], 0, 255);
            if (!w) return fail(lineNo, "весовой коэффициент \"" + std::string(f[2]) + "\" вне 0..255");
            seenWeight[std::size_t(*v - 1)] = true;
            weights[std::size_t(*v - 1)].store(uint8_t(*w), std::memory_order_relaxed);
        } else {
            return fail(lineNo, "непонятная строка");
        }
    }
    for (int r = 0; r < kSetpointRegisters; ++r)
        if (!seen[std::size_t(r)]) return fail(0, "в файле нет регистра " + std::to_string(r) + " (файл неполон)");
    for (int v = 0; v < reg::kValveCount; ++v)
        if (!seenWeight[std::size_t(v)])
            return fail(0, "в файле нет весового коэффициента клапана " + std::to_string(v + 1) + " (файл неполон)");

    for (const Typed& t : typed) {
        if (t.value == displayText(*t.row, *scratch)) continue;  // untouched: the code stands
        if (t.row->edit == Edit::Integer) {
            // Typing wraps to 16 bits; a file that says 70000 is damaged, not typed.
            const std::optional<float> v = text::parseFloat(t.value);
            if (v && !(*v >= 0.0f && *v < 65536.0f))
                return fail(t.line, "значение \"" + t.value + "\" вне 0..65535");
        }
        const EditResult e = applyEdit(t.row->tab, t.row->subTab, t.row->row, t.value, *scratch, weights);
        if (e.kind != EditResult::Stored)
            return fail(t.line, "значение \"" + t.value + "\" не число");
    }

    for (uint16_t r = 0; r < kSetpointRegisters; ++r) result.set.holding[r] = scratch->holding(r);
    for (int v = 0; v < reg::kValveCount; ++v)
        result.set.weights[std::size_t(v)] = weights[std::size_t(v)].load(std::memory_order_relaxed);
    result.ok = true;
    return result;
}

SetpointFileResult readSetpointFile(const std::string& path)
{
    std::string bytes;
    SetpointFileResult r;
    // Far more than any setpoint file: the parser refuses it by its size.
    if (!text::readSmallFile(path, 256 * 1024, &bytes, &r.error)) return r;
    return parseSetpointFile(bytes);
}

std::optional<std::string> otherDeviceQuestion(const SetpointFileResult& file, const RegisterImage& device,
                                               unsigned deviceNumber)
{
    if (!file.deviceNumber) return std::nullopt;
    bool sameWeights = true;
    for (int v = 0; v < reg::kValveCount; ++v) {
        const auto r = uint16_t(reg::kZrvFactor1 + v);
        sameWeights = sameWeights && file.set.holding[r] == device.holding(r);
    }
    if (*file.deviceNumber == deviceNumber && sameWeights) return std::nullopt;
    std::string q = "Файл уставок сохранён для ZRV-" + std::to_string(*file.deviceNumber) + ", подключено ZRV-" +
                    std::to_string(deviceNumber);
    if (*file.deviceNumber == deviceNumber) q += " с другими весовыми коэффициентами клапанов";
    return q + ". Загрузить?";
}

int SetpointDifferences::count() const
{
    int n = 0;
    for (bool b : holding) n += b;
    for (bool b : weights) n += b;
    return n;
}

SetpointDifferences compareSetpoints(const SetpointSet& set, const SetpointSet& device)
{
    SetpointDifferences d;
    for (std::size_t r = 0; r < d.holding.size(); ++r) d.holding[r] = set.holding[r] != device.holding[r];
    for (std::size_t v = 0; v < d.weights.size(); ++v) d.weights[v] = set.weights[v] != device.weights[v];
    return d;
}

std::vector<int> profileDifferences(const SetpointSet& profile, const SetpointSet& device)
{
    std::array<bool, kSetpointRegisters> carries{};
    for (const Row& row : catalogue()) {
        if (row.reg >= kSetpointRegisters) continue;
        carries[row.reg] = true;
        if (isFloat(row) && row.reg + 1 < kSetpointRegisters) carries[row.reg + 1u] = true;
    }
    for (int v = 0; v < reg::kValveCount; ++v) carries[std::size_t(reg::kZrvFactor1 + v)] = true;
    const SetpointDifferences d = compareSetpoints(profile, device);
    std::vector<int> out;
    for (std::size_t r = 0; r < carries.size(); ++r)
        if (carries[r] && d.holding[r]) out.push_back(int(r));
    return out;
}

std::vector<RowDifference> differingRows(const SetpointSet& file, const SetpointSet& device)
{
    auto fileImage = std::make_unique<RegisterImage>();
    auto deviceImage = std::make_unique<RegisterImage>();
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) {
        fileImage->setHolding(r, file.holding[r]);
        deviceImage->setHolding(r, device.holding[r]);
    }
    std::vector<RowDifference> out;
    std::array<bool, kSetpointRegisters> listed{};
    for (const Row& row : catalogue()) {
        if (row.reg >= kSetpointRegisters || listed[row.reg]) continue;
        listed[row.reg] = true;
        const bool wide = isFloat(row) && row.reg + 1 < kSetpointRegisters;
        const bool differs = file.holding[row.reg] != device.holding[row.reg] ||
                             (wide && file.holding[row.reg + 1u] != device.holding[row.reg + 1u]);
        if (differs) out.push_back({&row, displayText(row, *deviceImage), displayText(row, *fileImage)});
    }
    return out;
}

SetpointSet currentSetpoints(const RegisterImage& image, const ValveWeightArray& weights)
{
    SetpointSet s;
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) s.holding[r] = image.holding(r);
    for (std::size_t v = 0; v < s.weights.size(); ++v) s.weights[v] = weights[v].load(std::memory_order_relaxed);
    return s;
}

}  // namespace zrv::setpoints

#include "NumberParse.h"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace zrv::text {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Accepts exactly the form described in the header; nothing locale-bound.
bool wellFormed(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == s.size();
}

}  // namespace

std::optional<float> parseFloat(std::string_view text, std::string* error)
{
    const std::string_view s = trimmed(text);
    if (wellFormed(s)) {
        // from_chars ignores the C locale, which a Russian desktop sets to ",".
        std::string_view digits = s;
        if (digits.front() == '+') digits.remove_prefix(1);
        double v = 0;
        const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        const bool complete = r.ptr == digits.data() + digits.size();
        if (complete && r.ec == std::errc() && std::isfinite(v) && std::fabs(v) <= double(FLT_MAX)) return float(v);
    }
    if (error) *error = "'" + std::string(text) + "' is not a valid floating point value";
    return std::nullopt;
}

std::optional<int32_t> parseInteger(std::string_view text, std::string* error)
{
    const std::string_view s = trimmed(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t v = 0;
    bool ok = i < s.size();
    for (; ok && i < s.size(); ++i) {
        if (!isDigit(s[i])) ok = false;
        else v = v * 10 + (s[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) ok = false;
    }
    if (ok) {
        if (negative) v = -v;
        if (v >= INT32_MIN && v <= INT32_MAX) return int32_t(v);
    }
    if (error) *error = "'" + std::string(text) + "' is not a valid integer value";
    return std::nullopt;
}

}  // namespace zrv::text

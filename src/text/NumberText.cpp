#include "NumberText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zrv::text {

namespace {

// A finite non-zero magnitude as decimal digits d0 d1 d2 ... with the value
// 0.d0d1d2... x 10^pointPos (pointPos = number of integer digits).
struct Decimal {
    std::string digits;
    int pointPos = 0;
    bool negative = false;
};

Decimal toDecimal(double v)
{
    // 40 significant digits are exact enough to decide every rounding of the
    // at most 17 digits kept here.
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.39e", v);
    Decimal d;
    const char* p = buf;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') d.digits += *p;
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    d.pointPos = exponent + 1;
    return d;
}

// Keeps `keep` significant digits, rounding half away from zero; the digit
// string may grow by one ("999" -> "1000", pointPos + 1). keep <= 0 rounds
// to nothing or to one unit at position keep.
void roundTo(Decimal& d, int keep)
{
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    if (keep >= int(d.digits.size())) return;
    const bool up = d.digits[std::size_t(keep)] >= '5';
    d.digits.resize(std::size_t(keep));
    if (!up) return;
    int i = keep - 1;
    while (i >= 0 && d.digits[std::size_t(i)] == '9') d.digits[std::size_t(i--)] = '0';
    if (i >= 0) {
        ++d.digits[std::size_t(i)];
    } else {
        d.digits.insert(d.digits.begin(), '1');
        ++d.pointPos;
        d.digits.pop_back();
        if (d.digits.empty()) d.digits = "1";
    }
}

void stripTrailingZeros(std::string& s)
{
    while (!s.empty() && s.back() == '0') s.pop_back();
}

bool allZero(const std::string& s) { return s.find_first_not_of('0') == std::string::npos; }

std::string nonFinite(double v)
{
    if (std::isnan(v)) return "NAN";
    return v < 0 ? "-INF" : "INF";
}

std::string scientific(Decimal d, int exponentDigits = 1)
{
    stripTrailingZeros(d.digits);
    std::string out = d.negative ? "-" : "";
    out += d.digits.empty() ? '0' : d.digits[0];
    if (d.digits.size() > 1) out += "." + d.digits.substr(1);
    const int exponent = d.pointPos - 1;
    std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
    if (int(digits.size()) < exponentDigits) digits.insert(0, std::size_t(exponentDigits) - digits.size(), '0');
    out += "E" + std::string(exponent < 0 ? "-" : "") + digits;
    return out;
}

}  // namespace

std::string formatGeneral(double value, int precision) { return formatGeneral(value, precision, 0.0001, 1); }

std::string formatGeneral(double value, int precision, double fixedFrom, int exponentDigits)
{
    if (!std::isfinite(value)) return nonFinite(value);
    if (value == 0) return "0";
    Decimal d = toDecimal(value);
    roundTo(d, precision);
    if (std::fabs(value) < fixedFrom || d.pointPos > precision) return scientific(d, exponentDigits);
    stripTrailingZeros(d.digits);
    std::string out = d.negative ? "-" : "";
    if (d.pointPos <= 0) {
        out += "0." + std::string(std::size_t(-d.pointPos), '0') + d.digits;
        return out;
    }
    std::string digits = d.digits;
    if (int(digits.size()) < d.pointPos) digits.append(std::size_t(d.pointPos) - digits.size(), '0');
    out += digits.substr(0, std::size_t(d.pointPos));
    if (int(digits.size()) > d.pointPos) out += "." + digits.substr(std::size_t(d.pointPos));
    return out;
}

std::string formatFixed(double value, int precision, int decimals)
{
    if (!std::isfinite(value)) return nonFinite(value);
    Decimal d;
    if (value != 0) {
        d = toDecimal(value);
        if (d.pointPos > precision) {
            roundTo(d, precision);
            return scientific(d);
        }
        const int keep = std::min(precision, d.pointPos + decimals);
        roundTo(d, keep);
        // Rounding up may have made one more integer digit than allowed.
        if (d.pointPos > precision) return scientific(d);
    }
    if (d.digits.empty() || allZero(d.digits)) d = Decimal{};  // rounds to zero: no sign

    std::string intPart, fraction;
    const auto digitAt = [&d](int i) {  // i-th digit after the leading one's place
        return (i >= 0 && i < int(d.digits.size())) ? d.digits[std::size_t(i)] : '0';
    };
    if (d.digits.empty() || d.pointPos <= 0) {
        intPart = "0";
    } else {
        for (int i = 0; i < d.pointPos; ++i) intPart += digitAt(i);
    }
    for (int k = 0; k < decimals; ++k) fraction += d.digits.empty() ? '0' : digitAt(d.pointPos + k);
    std::string out = d.negative ? "-" : "";
    out += intPart;
    if (decimals > 0) out += "." + fraction;
    return out;
}

std::string withDecimalComma(std::string v)
{
    bool number = !v.empty();
    for (char c : v)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) number = false;
    if (number)
        for (char& c : v)
            if (c == '.') c = ',';
    return v;
}

}  // namespace zrv::text

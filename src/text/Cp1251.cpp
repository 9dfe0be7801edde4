#include "Cp1251.h"

#include <array>
#include <cstdint>

namespace zrv::text {

namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::array<char32_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char32_t toUnicode(unsigned char b)
{
    if (b < 0x80) return b;
    if (b >= 0xC0) return char32_t(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

int fromUnicode(char32_t c)
{
    if (c < 0x80) return int(c);
    if (c >= 0x0410 && c <= 0x044F) return int(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c && c != 0xFFFD) return int(0x80 + i);
    return -1;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string cp1251ToUtf8(std::string_view in)
{
    std::string out;
    out.reserve(in.size() * 2);
    for (char ch : in) appendUtf8(out, toUnicode(static_cast<unsigned char>(ch)));
    return out;
}

std::string utf8ToCp1251(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        char32_t c = 0;
        std::size_t len = 1;
        if (b < 0x80) c = b;
        else if ((b & 0xE0) == 0xC0) c = b & 0x1F, len = 2;
        else if ((b & 0xF0) == 0xE0) c = b & 0x0F, len = 3;
        else if ((b & 0xF8) == 0xF0) c = b & 0x07, len = 4;
        else len = 0;  // a stray continuation byte or worse
        bool ok = len > 0 && i + len <= in.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto cb = static_cast<unsigned char>(in[i + k]);
            if ((cb & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (cb & 0x3F);
        }
        // Only the shortest form of a code point is UTF-8 (an overlong C0 80
        // would smuggle in a zero byte, C1 81 an "A"), and surrogates and
        // code points past U+10FFFF are none.
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < kLeast[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        const int mapped = fromUnicode(c);
        out += mapped < 0 ? '?' : char(mapped);
        i += len;
    }
    return out;
}

}  // namespace zrv::text
